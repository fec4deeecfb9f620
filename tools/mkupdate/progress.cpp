#include "tools/mkupdate/progress.h"

#include "platform/tool_system.h"

namespace {

struct ProgressLine {
  bool allowed = false;
  bool shown = false;  // started, and large enough to show
  std::string label;
  uint64_t total = 0;
  uint64_t done = 0;
  int percent = -1;
  size_t width = 0;  // of the line on the terminal now
};
ProgressLine g_line;

void Draw(const std::string& text) {
  std::string line = text;
  if (line.size() < g_line.width) line.append(g_line.width - line.size(), ' ');
  g_line.width = text.size();
  WriteText(stderr, "\r" + line + (text.empty() ? "\r" : ""));
}

}  // namespace

void AllowProgress(bool allowed) { g_line.allowed = allowed; }

void StartProgress(const std::string& label, uint64_t total) {
  EndProgress();
  g_line.shown = g_line.allowed && total >= kProgressMinimum;
  g_line.label = label;
  g_line.total = total;
  g_line.done = 0;
  g_line.percent = -1;
  CountProgress(0);
}

void CountProgress(uint64_t n) {
  if (!g_line.shown) return;
  g_line.done += n;
  uint64_t done = g_line.done < g_line.total ? g_line.done : g_line.total;
  int percent = static_cast<int>(done * 100 / g_line.total);
  if (percent == g_line.percent) return;
  g_line.percent = percent;
  Draw(g_line.label + ": " + std::to_string(done >> 20) + " of " +
       std::to_string(g_line.total >> 20) + " MiB (" + std::to_string(percent) +
       "%)");
}

void EndProgress() {
  if (g_line.shown && g_line.width != 0) Draw("");
  g_line.shown = false;
  g_line.width = 0;
}
