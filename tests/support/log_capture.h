// Collects the diagnostic log while a test runs, so tests can look for lines and assertions.
#pragma once
#include <mutex>
#include <string>
#include <vector>

class LogCapture {
public:
    LogCapture();
    ~LogCapture();
    std::vector<std::string> lines() const;
    std::string text() const;
    int count(const std::string& needle) const; // lines containing needle
    int asserts() const { return count("assert:"); }
    void clear();
};
