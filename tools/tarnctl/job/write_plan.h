// Writing only what changed: the time model of one block transfer and the
// planner that turns "what the pager holds" and "what the file holds" into
// the fewest, cheapest write blocks.
//
// The time model follows the download server's own pauses, byte by byte:
// the wake-up (100 ms after the wake byte, 100 ms after the answer), the
// eight header bytes and their 5 ms pause, the 37 answer bytes, the
// password (10 bytes) when the pager asks for one, the 5 ms pause after the
// password step, the verdict, the data and its checksum, 200 ms after every
// 512th data byte when a progress indicator is attached, and for a write
// the two acknowledgements with 50 pauses of (length x 1000 / 10240) ms
// between them and the 3 s settle after them. Line time is 10 bits per byte
// at the port's baud rate. Opening and closing the port is not counted.
//
// The planner merges two runs of differing bytes into one block when the
// merged block (writing the unchanged bytes between the runs again, with the
// value the pager already holds) costs no more than the two blocks apart,
// read-back included. Only bytes the file covers are ever written: a gap
// with an address outside the file is never bridged.
#ifndef TARNCTL_WRITE_PLAN_H
#define TARNCTL_WRITE_PLAN_H

#include <cstdint>
#include <vector>

#include "pager.h"

namespace tarnctl {

struct LineCosts {
  uint32_t baud = 9600;
  bool progress = true;        // a progress indicator is attached
  bool passwordAsked = false;  // the pager's status asks for the password
};

// Estimated milliseconds of one WriteMemory / ReadMemory of n bytes.
double WriteBlockMs(uint32_t n, const LineCosts& costs);
double ReadBlockMs(uint32_t n, const LineCosts& costs);

struct WritePlan {
  std::vector<Block> writes;  // in address order, each at most maxBlock bytes
  uint32_t differingBytes = 0;
  uint32_t writeBytes = 0;    // differing bytes plus the bridged gaps
  uint32_t skippedBytes = 0;  // covered bytes that are not written
  double estimateMs = 0;      // the writes, plus their read-back with verify
};

// `file` and `pager` are the whole 64 KiB address space; `covered` marks the
// addresses the file holds (the pager's bytes there were read).
WritePlan PlanWrites(const std::vector<BYTE>& file, const std::vector<BYTE>& pager,
                     const std::vector<bool>& covered, uint32_t maxBlock, bool verify,
                     const LineCosts& costs);

}  // namespace tarnctl

#endif  // TARNCTL_WRITE_PLAN_H
