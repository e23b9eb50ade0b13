#pragma once

namespace tallybrook {

// The three figures at the top of the desk; equal values let the model skip an update that changes nothing.
struct DeskCounts {
    int today = 0;
    int onSite = 0;
    int thisWeek = 0;

    friend bool operator==(const DeskCounts &, const DeskCounts &) = default;
};

} // namespace tallybrook
