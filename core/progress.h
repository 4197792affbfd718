// The progress of a batch as a terminal shows it: how fast documents end (over the recent
// ones, so a slow start or a change of pace fades out), the time the rest will take at that
// pace, and the one line that shows it all within the terminal's width.
#pragma once

#include <cstddef>
#include <deque>
#include <string>
#include <string_view>

namespace vellumor {

class ProgressEstimate {
  public:
    // The pace is told once this many documents have ended, over at most the last kWindow.
    static constexpr std::size_t kEnough = 3;
    static constexpr std::size_t kWindow = 50;

    // documents: how many the run is to convert.
    explicit ProgressEstimate(std::size_t documents) : documents_(documents) {}

    // One document has ended, at seconds after the run began (never earlier than the last).
    void Ended(double at);

    // Documents per second at now: until kWindow have ended, all of them since the run began;
    // then the last kWindow since the one before them ended. 0 while it cannot be told.
    double Rate(double now) const;
    // The seconds the documents not ended yet take at that pace; negative while unknown.
    double SecondsLeft(double now) const;

  private:
    std::size_t documents_;
    std::size_t ended_ = 0;
    std::deque<double> recent_;  // when the last kWindow + 1 documents ended
};

// A duration as a clock shows it: "0:42", "4:18", "1:02:03".
std::string DurationText(double seconds);

struct ProgressCounts {
    std::size_t done = 0, total = 0, converted = 0, failed = 0;
    double rate = 0;          // documents per second; 0: not known yet
    double secondsLeft = -1;  // negative: not known yet
};

// The progress line: the bar, the counts, the pace and the time left when known, and as much of
// the current document's name as fits. Never as wide as width, so the terminal never wraps it:
// on a narrow terminal the name goes first, then the bar narrows, then the bar goes.
std::string ProgressLine(const ProgressCounts& counts, std::string_view name, int width);

}  // namespace vellumor
