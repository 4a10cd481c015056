#pragma once

#include <gtest/gtest.h>

#include <sys/resource.h>

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

// The peak resident memory of this process so far.
inline long peakResidentKb()
{
    rusage usage{};
    getrusage(RUSAGE_SELF, &usage);
    return usage.ru_maxrss;
}
