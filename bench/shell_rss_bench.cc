// The real shell's memory with a whole tree: starts `cli` on a pseudo
// terminal against a running vornd, waits for the first prompt (the tree is
// loaded by then) and reads the shell's peak resident size.
//   shell_rss_bench --cli PATH --socket PATH
#include <pty.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <string>

#include "common.h"

namespace {

// Returns a /proc/<pid>/status value in kB ("VmHWM", "VmRSS"), or -1.
long status_kb(pid_t pid, const char *key) {
  std::ifstream in("/proc/" + std::to_string(pid) + "/status");
  std::string line, want = std::string(key) + ":";
  while (std::getline(in, line))
    if (line.rfind(want, 0) == 0) return atol(line.c_str() + want.size());
  return -1;
}

}  // namespace

int main(int argc, char **argv) {
  const char *cli = bench::option(argc, argv, "--cli");
  const char *socket = bench::option(argc, argv, "--socket");
  if (!cli || !socket) {
    fprintf(stderr, "usage: %s --cli PATH --socket PATH\n", argv[0]);
    return 2;
  }
  int fd = -1;
  bench::Clock::time_point start = bench::Clock::now();
  pid_t pid = forkpty(&fd, nullptr, nullptr, nullptr);
  if (pid < 0) return 1;
  if (pid == 0) {
    execl(cli, cli, "-q", "-T", "-s", socket, static_cast<char *>(nullptr));
    _exit(127);
  }
  bool ready = bench::wait_for(fd, "cli -> ", 600);
  double took = bench::us_since(start);
  long hwm = status_kb(pid, "VmHWM"), rss = status_kb(pid, "VmRSS");
  long anon = status_kb(pid, "RssAnon"), file = status_kb(pid, "RssFile");
  if (write(fd, "exit!\r", 6) != 6 || !ready) kill(pid, SIGTERM);
  waitpid(pid, nullptr, 0);
  if (!ready) {
    fprintf(stderr, "shell_rss_bench: no prompt from %s\n", cli);
    return 1;
  }
  printf("start to first prompt:        %8.1f ms\n", took / 1000);
  // The goal is in decimal megabytes; the kernel counts kibibytes.
  printf(
      "shell peak RSS:               %8.1f MiB = %.1f MB (VmHWM; goal <= "
      "36 MB at 100,000 nodes)\n",
      hwm / 1024.0, hwm * 1024 / 1e6);
  printf(
      "shell RSS at the prompt:      %8.1f MiB: %.1f MiB heap and other "
      "anonymous, %.1f MiB mapped files\n",
      rss / 1024.0, anon / 1024.0, file / 1024.0);
  return 0;
}
