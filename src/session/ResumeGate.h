// The hand-off between the line ring's writer and its reader when the ring
// is full: the writer pauses reading from the line and keeps the rest of the
// bytes in a backlog; the reader's progress asks the writer, once, to run
// the backlog and read on.
//
// States (one atomic word, so every step is one atomic operation):
//
//   kFlowing      no backlog: the line is read.
//   kPaused       a backlog waits, reading is off, nobody has asked for the
//                 resume yet.
//   kResumeAsked  a backlog waits and the resume has been asked for once
//                 (OnRoom called): the writer's FeedBacklog is due.
//
// Steps:
//
//   writer, a feed left a backlog   Pause(): any state -> kPaused, then
//                                   Claim(room now) like the reader.
//   writer, the backlog ran empty   Flow(): -> kFlowing.
//   reader, after each line taken   Claim(room now).
//   Claim(room)                     kPaused -> kResumeAsked when there is
//                                   room; true for the one caller that made
//                                   the change, which then calls OnRoom.
//
// Why no interleaving loses the resume: the writer publishes kPaused and
// then looks at the reader's position; the reader publishes its position
// and then looks at the state (both sequentially consistent). Whichever
// comes second sees the other's write, so if room came while the writer was
// pausing, one of the two claims finds both the room and kPaused. Before,
// the writer set its "paused" flag after the ring was seen full and nobody
// looked again: a reader that emptied the ring in between found no pause to
// end, and then had no line left to take, so nobody ever asked to resume.
// The compare-and-swap makes the ask happen once per pause whoever wins.
// The owner still rechecks on a tick (a resume that was asked for but got
// lost costs a tick, never the session).
#pragma once

#include <atomic>

namespace brelo {

class TResumeGate {
 public:
  enum EState : int { kFlowing, kPaused, kResumeAsked };

  explicit TResumeGate(EState s = kFlowing) : state_(s) {}

  void Pause() { state_.store(kPaused, std::memory_order_seq_cst); }
  void Flow() { state_.store(kFlowing, std::memory_order_seq_cst); }
  bool Claim(bool room) {
    if (!room) return false;
    int expected = kPaused;
    return state_.compare_exchange_strong(expected, kResumeAsked, std::memory_order_seq_cst);
  }
  EState State() const { return static_cast<EState>(state_.load(std::memory_order_seq_cst)); }
  bool Paused() const { return State() != kFlowing; }

 private:
  std::atomic<int> state_{kFlowing};
};

}  // namespace brelo
