#pragma once

#include <gtest/gtest.h>

#include <sys/resource.h>

#include <fstream>
#include <functional>
#include <iostream>
#include <string>

// What a call printed on the standard output and error streams, captured at the file
// descriptors, so that C and C++ output alike is seen.
struct CapturedOutput {
    std::string out;
    std::string errors;

    static CapturedOutput of(const std::function<void()>& fn)
    {
        testing::internal::CaptureStdout();
        testing::internal::CaptureStderr();
        fn();
        std::cout.flush();
        std::cerr.flush();
        CapturedOutput c;
        c.errors = testing::internal::GetCapturedStderr();
        c.out = testing::internal::GetCapturedStdout();
        return c;
    }
};

using Captured = CapturedOutput;

inline Captured capture(const std::function<void()>& fn)
{
    return CapturedOutput::of(fn);
}

// The peak resident memory of this process so far.
inline long peakResidentKb()
{
    rusage usage{};
    getrusage(RUSAGE_SELF, &usage);
    return usage.ru_maxrss;
}

// A kilobyte figure of /proc/self/status ("VmHWM", "VmRSS"), -1 when it is missing.
inline long statusKb(const std::string& field)
{
    std::ifstream in("/proc/self/status");
    for (std::string line; std::getline(in, line);)
        if (line.starts_with(field + ":"))
            return std::stol(line.substr(field.size() + 1));
    return -1;
}

// How far the resident memory rose above its level before fn, in kilobytes: the peak mark is
// reset first, so that an earlier, larger peak of the process cannot hide it.
inline long residentGrowthKb(const std::function<void()>& fn)
{
    std::ofstream("/proc/self/clear_refs") << "5";
    const long before = statusKb("VmRSS");
    fn();
    return statusKb("VmHWM") - before;
}
