# Reads a PPM (P6, 8 bits) screenshot of a window on stdin and prints the
# widest run of progress-bar fill in it: the largest number of bluish
# pixels (blue at least 80 above red) on one row.
import re
import sys

data = sys.stdin.buffer.read()
m = re.match(rb"P6\s+(\d+)\s+(\d+)\s+(\d+)\s", data)
if m is None:
    sys.exit("not a PPM image")
w, h = int(m.group(1)), int(m.group(2))
px = data[m.end():]
print(max(sum(1 for x in range(w) if px[(y * w + x) * 3 + 2] - px[(y * w + x) * 3] > 80)
          for y in range(h)))
