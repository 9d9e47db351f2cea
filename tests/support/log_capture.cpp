#include "log_capture.h"

#include "os_tools.h"

static std::mutex capture_mutex;          // log lines may arrive from the audio thread
static std::vector<std::string> captured; // lines logged since the capture began

static void capture_line(const char* line) {
    std::lock_guard<std::mutex> hold(capture_mutex);
    captured.emplace_back(line);
}

LogCapture::LogCapture() {
    clear();
    os_log_sink = capture_line;
}

LogCapture::~LogCapture() { os_log_sink = nullptr; }

std::vector<std::string> LogCapture::lines() const {
    std::lock_guard<std::mutex> hold(capture_mutex);
    return captured;
}

std::string LogCapture::text() const {
    std::string all;
    for (const auto& l : lines()) all += l;
    return all;
}

int LogCapture::count(const std::string& needle) const {
    int n = 0;
    for (const auto& l : lines())
        if (l.find(needle) != std::string::npos) n++;
    return n;
}

void LogCapture::clear() {
    std::lock_guard<std::mutex> hold(capture_mutex);
    captured.clear();
}
