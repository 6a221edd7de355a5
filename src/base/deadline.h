// A time limit counted once, from the moment a call began: every wait of
// the call takes what is left of it, so the limit holds however many steps
// wait one after the other.
#pragma once

#include <windows.h>

namespace tmn {

class Deadline {
 public:
  // totalMs from startTick, the tick count when the call began.
  explicit Deadline(DWORD totalMs = 0, DWORD startTick = ::GetTickCount()) : start_(startTick), total_(totalMs) {}

  // What is left at now, less reserveMs kept back for what must follow;
  // 0 once that is used up. The tick count may wrap in between.
  DWORD RemainingMs(DWORD reserveMs = 0, DWORD now = ::GetTickCount()) const {
    const DWORD elapsed = now - start_;
    if (elapsed >= total_ || total_ - elapsed <= reserveMs) return 0;
    return total_ - elapsed - reserveMs;
  }
  bool Passed(DWORD now = ::GetTickCount()) const { return RemainingMs(0, now) == 0; }
  // The same start, ending reserveMs sooner.
  Deadline Sooner(DWORD reserveMs) const { return Deadline(total_ > reserveMs ? total_ - reserveMs : 0, start_); }
  // A limit that never comes: what is bounded otherwise takes it.
  static Deadline Unbounded() { return Deadline(INFINITE); }

 private:
  DWORD start_;
  DWORD total_;
};

}  // namespace tmn
