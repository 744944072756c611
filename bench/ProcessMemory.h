#pragma once

#include <fstream>
#include <string>

#include <malloc.h>

// A field of /proc/self/status in kB, such as "VmRSS:" or "VmHWM:"; 0 when missing.
inline long StatusKb(const std::string& field)
{
    std::ifstream status("/proc/self/status");
    std::string line;
    while (std::getline(status, line))
        if (line.compare(0, field.size(), field) == 0)
            return std::stol(line.substr(field.size()));
    return 0;
}

// Gives freed heap back and restarts the resident peak from here; returns the resident
// memory now.
inline long ResetPeakKb()
{
    malloc_trim(0);
    std::ofstream("/proc/self/clear_refs") << "5";
    return StatusKb("VmRSS:");
}
