#include "tools/pagersim/pager.h"
