#include "ui/progress.h"

namespace ui {
namespace {

const ProgressReport* g_report = nullptr;

}  // namespace

void InstallProgressReport(const ProgressReport* report) {
    g_report = report;
}

bool OpenProgress(std::string_view text) {
    return g_report && g_report->open ? g_report->open(text) : false;
}

void SetProgressText(std::string_view text) {
    if (g_report && g_report->setText) g_report->setText(text);
}

void CloseProgress() {
    if (g_report && g_report->close) g_report->close();
}

HWND OpenOwnProgress(std::string_view text) {
    return g_report && g_report->openOwn ? g_report->openOwn(text) : 0;
}

}  // namespace ui
