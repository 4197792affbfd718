#include "core/progress.h"

#include <algorithm>
#include <cmath>
#include <cstdio>

namespace vellumor {

void ProgressEstimate::Ended(double at) {
    ++ended_;
    recent_.push_back(at);
    if (recent_.size() > kWindow + 1) recent_.pop_front();
}

double ProgressEstimate::Rate(double now) const {
    if (ended_ < kEnough) return 0;
    // Until the window is full it reaches back to the run's start.
    const bool full = ended_ > kWindow;
    const double since = full ? recent_.front() : 0;
    const double count = static_cast<double>(full ? kWindow : ended_);
    const double span = std::max(now, recent_.back()) - since;
    return span > 0 ? count / span : 0;
}

double ProgressEstimate::SecondsLeft(double now) const {
    const std::size_t left = documents_ > ended_ ? documents_ - ended_ : 0;
    if (left == 0) return 0;
    const double rate = Rate(now);
    return rate > 0 ? static_cast<double>(left) / rate : -1;
}

std::string DurationText(double seconds) {
    const long long total = std::max(0LL, std::llround(seconds));
    const long long h = total / 3600, m = total / 60 % 60, s = total % 60;
    char text[48];
    if (h > 0)
        std::snprintf(text, sizeof text, "%lld:%02lld:%02lld", h, m, s);
    else
        std::snprintf(text, sizeof text, "%lld:%02lld", m, s);
    return text;
}

std::string ProgressLine(const ProgressCounts& counts, std::string_view name, int width) {
    char text[160];
    std::snprintf(text, sizeof text, " %zu/%zu  %zu converted, %zu failed", counts.done,
                  counts.total, counts.converted, counts.failed);
    std::string info = text;
    if (counts.rate > 0) {
        const char* format = counts.rate < 1    ? "  %.2f documents/s"
                             : counts.rate < 10 ? "  %.1f documents/s"
                                                : "  %.0f documents/s";
        std::snprintf(text, sizeof text, format, counts.rate);
        info += text;
    }
    if (counts.secondsLeft > 0) info += "  " + DurationText(counts.secondsLeft) + " left";
    info += ' ';

    // The bar keeps its width from one document to the next (it changes only with the counts'
    // digits), room is left for a name, and the name takes what is left.
    const int room = width - 1;  // the last column stays free: writing there wraps some terminals
    constexpr int kWidest = 30, kNarrowest = 10, kNameRoom = 24, kShortestName = 8;
    const int infoWidth = static_cast<int>(info.size());
    int bar = std::min(kWidest, room - infoWidth - 2 - kNameRoom);
    if (bar < kNarrowest) bar = std::min(kWidest, room - infoWidth - 2);
    std::string line;
    if (bar >= kNarrowest) {
        const double share =
            counts.total ? static_cast<double>(counts.done) / static_cast<double>(counts.total)
                         : 1.0;
        const int filled = std::clamp(static_cast<int>(bar * share), 0, bar);
        line += '[';
        line.append(static_cast<std::size_t>(filled), '#');
        line.append(static_cast<std::size_t>(bar - filled), '-');
        line += ']';
        line += info;
    } else {
        line = info.substr(1);
    }
    const std::size_t fits = static_cast<std::size_t>(std::max(0, room));
    if (line.size() > fits) line.resize(fits);
    const std::size_t left = fits - line.size();
    if (!name.empty() && left >= kShortestName) {
        if (name.size() <= left) {
            line += name;
        } else {
            // Cut between characters, never inside one's UTF-8 bytes.
            std::size_t cut = left - 3;
            while (cut > 0 && (static_cast<unsigned char>(name[cut]) & 0xC0) == 0x80) --cut;
            line += std::string(name.substr(0, cut)) + "...";
        }
    }
    return line;
}

}  // namespace vellumor
