#pragma once
// The two window messages between a conversion worker and the dialog. The core never
// sends them itself: it reports through its observer, and the dialog's observer turns
// the reports into these messages.

constexpr unsigned kWmUser = 0x0400;
constexpr unsigned WM_CONVERT_PROGRESS = kWmUser + 22;  // sent: wParam = percent
constexpr unsigned WM_CONVERT_DONE = kWmUser + 23;      // posted: wParam 0/1, lParam = job

static_assert(WM_CONVERT_PROGRESS == 0x0416 && WM_CONVERT_DONE == 0x0417);
