// SPDX-License-Identifier: MIT
// Copyright (c) 2026 The Dotloom authors
// Starts a program on the X display in DISPLAY and measures, from just before exec, the time
// until a top-level window with the given caption is viewable; then, after a settling pause,
// the program's peak resident memory (VmHWM). Ends the program and prints one line:
//
//   viewable_ms=12.345 cpu_ms=10.123 vmhwm_kib=45678
//
// cpu_ms is the processor time all of the program's threads had used when the window became
// viewable (from /proc/PID/task/*/schedstat, in nanoseconds), which other load on the machine
// disturbs far less than the wall-clock time.
//
//   dotloom_startup_probe CAPTION SETTLE_MS PROGRAM [ARGS...]
//
// The probe listens for the map itself rather than polling, so both programs it is used on
// are timed to the same event with no polling interval in the figure.

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>
#include <xcb/xcb.h>

#include <chrono>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <memory>
#include <string>
#include <system_error>
#include <thread>

namespace {

using Clock = std::chrono::steady_clock;

struct FreeDeleter {
  void operator()(void* pointer) const { std::free(pointer); }
};
template <typename T>
using XcbReply = std::unique_ptr<T, FreeDeleter>;

std::string WindowName(xcb_connection_t* connection, xcb_window_t window) {
  const xcb_get_property_cookie_t cookie =
      xcb_get_property(connection, 0, window, XCB_ATOM_WM_NAME, XCB_GET_PROPERTY_TYPE_ANY, 0, 256);
  const XcbReply<xcb_get_property_reply_t> reply(
      xcb_get_property_reply(connection, cookie, nullptr));
  if (!reply) return {};
  const auto length = static_cast<std::size_t>(xcb_get_property_value_length(reply.get()));
  return {static_cast<const char*>(xcb_get_property_value(reply.get())), length};
}

bool IsViewable(xcb_connection_t* connection, xcb_window_t window) {
  const XcbReply<xcb_get_window_attributes_reply_t> reply(xcb_get_window_attributes_reply(
      connection, xcb_get_window_attributes(connection, window), nullptr));
  return reply && reply->map_state == XCB_MAP_STATE_VIEWABLE;
}

long PeakKib(pid_t pid) {
  std::ifstream status("/proc/" + std::to_string(pid) + "/status");
  std::string line;
  while (std::getline(status, line)) {
    if (line.rfind("VmHWM:", 0) == 0) return std::strtol(line.c_str() + 6, nullptr, 10);
  }
  return -1;
}

double CpuMs(pid_t pid) {
  std::error_code error;
  double total_ns = 0;
  const std::filesystem::path tasks = "/proc/" + std::to_string(pid) + "/task";
  for (const auto& task : std::filesystem::directory_iterator(tasks, error)) {
    std::ifstream schedstat(task.path() / "schedstat");
    double run_ns = 0;
    if (schedstat >> run_ns) total_ns += run_ns;
  }
  return total_ns / 1e6;
}

void EndChild(pid_t pid) {
  ::kill(pid, SIGTERM);
  int status = 0;
  ::waitpid(pid, &status, 0);
}

}  // namespace

int main(int argc, char** argv) {
  if (argc < 4) {
    std::fprintf(stderr, "usage: %s CAPTION SETTLE_MS PROGRAM [ARGS...]\n", argv[0]);
    return 2;
  }
  const std::string caption = argv[1];
  const int settle_ms = std::atoi(argv[2]);

  xcb_connection_t* connection = xcb_connect(nullptr, nullptr);
  if (xcb_connection_has_error(connection) != 0) {
    std::fprintf(stderr, "cannot connect to the display\n");
    return 1;
  }
  const xcb_window_t root = xcb_setup_roots_iterator(xcb_get_setup(connection)).data->root;
  const std::uint32_t mask = XCB_EVENT_MASK_SUBSTRUCTURE_NOTIFY;
  xcb_change_window_attributes(connection, root, XCB_CW_EVENT_MASK, &mask);
  xcb_flush(connection);

  const Clock::time_point launched = Clock::now();
  const pid_t pid = ::fork();
  if (pid < 0) return 1;
  if (pid == 0) {
    ::execvp(argv[3], argv + 3);
    ::_exit(127);
  }

  constexpr auto kTimeout = std::chrono::seconds(30);
  pollfd watched{xcb_get_file_descriptor(connection), POLLIN, 0};
  double viewable_ms = -1;
  double cpu_ms = -1;
  while (viewable_ms < 0 && Clock::now() - launched < kTimeout) {
    std::unique_ptr<xcb_generic_event_t, FreeDeleter> event(xcb_poll_for_event(connection));
    if (!event) {
      if (xcb_connection_has_error(connection) != 0) break;
      ::poll(&watched, 1, 100);
      continue;
    }
    if ((event->response_type & 0x7F) != XCB_MAP_NOTIFY) continue;
    const auto* map = reinterpret_cast<const xcb_map_notify_event_t*>(event.get());
    if (map->event != root) continue;
    const Clock::time_point mapped = Clock::now();
    if (WindowName(connection, map->window) == caption && IsViewable(connection, map->window)) {
      viewable_ms = std::chrono::duration<double, std::milli>(mapped - launched).count();
      cpu_ms = CpuMs(pid);
    }
  }
  xcb_disconnect(connection);
  if (viewable_ms < 0) {
    std::fprintf(stderr, "no viewable window named \"%s\" appeared\n", caption.c_str());
    EndChild(pid);
    return 1;
  }
  std::this_thread::sleep_for(std::chrono::milliseconds(settle_ms));
  const long peak_kib = PeakKib(pid);
  EndChild(pid);
  std::printf("viewable_ms=%.3f cpu_ms=%.3f vmhwm_kib=%ld\n", viewable_ms, cpu_ms, peak_kib);
  return 0;
}
