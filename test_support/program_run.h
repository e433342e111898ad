// Test support: runs a built program as a user would, in a folder of the
// test's, and keeps what it wrote to standard output and error and how it
// ended.  Its standard streams go to files in a capture folder of its own
// under the system's temporary folder, never in the folder it runs in,
// whose contents the tests judge.
#pragma once

#include <fcntl.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <atomic>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <optional>
#include <string>
#include <utility>
#include <vector>

namespace test_support {

struct ProgramRun {
  int exit_code = -1;  // 128 + the signal's number for a program a signal ended
  std::string out;
  std::string err;
};

inline std::string file_text(const std::filesystem::path& path) {
  std::ifstream in(path, std::ios::binary);
  return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

inline void write_text(const std::filesystem::path& path, const std::string& text) {
  std::ofstream(path, std::ios::binary) << text;
}

// How to start the program: changes to its environment and its standard
// streams.
struct Launch {
  std::optional<std::string> path;                       // replaces PATH
  std::vector<std::pair<std::string, std::string>> env;  // added
  bool close_stdout = false;
  std::string stdin_file;  // empty: an empty file of the capture's
};

struct Running {
  pid_t pid = -1;
  std::filesystem::path capture;
};

// Starts `program` with `args` in folder `cwd`.
inline Running start_program(const std::string& program, const std::vector<std::string>& args,
                             const std::filesystem::path& cwd, const Launch& launch = {}) {
  static std::atomic<int> counter{0};
  Running running;
  running.capture = std::filesystem::temp_directory_path() /
                    ("velmora-capture-" + std::to_string(::getpid()) + "-" + std::to_string(counter++));
  std::filesystem::create_directories(running.capture);
  const std::string out_file = (running.capture / "stdout").string();
  const std::string err_file = (running.capture / "stderr").string();
  const std::string in_file = launch.stdin_file.empty() ? (running.capture / "stdin").string() : launch.stdin_file;

  std::vector<std::string> argv_text = {program};
  argv_text.insert(argv_text.end(), args.begin(), args.end());
  std::vector<char*> argv;
  for (std::string& a : argv_text) argv.push_back(a.data());
  argv.push_back(nullptr);

  std::vector<std::string> env_text;
  for (char** e = environ; *e != nullptr; ++e) {
    if (launch.path && std::string(*e).rfind("PATH=", 0) == 0) continue;
    env_text.emplace_back(*e);
  }
  if (launch.path) env_text.push_back("PATH=" + *launch.path);
  for (const auto& [name, value] : launch.env) env_text.push_back(name + "=" + value);
  std::vector<char*> envp;
  for (std::string& e : env_text) envp.push_back(e.data());
  envp.push_back(nullptr);

  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  posix_spawn_file_actions_addopen(&actions, STDIN_FILENO, in_file.c_str(), O_RDONLY | O_CREAT, 0644);
  if (launch.close_stdout) {
    posix_spawn_file_actions_addclose(&actions, STDOUT_FILENO);
  } else {
    posix_spawn_file_actions_addopen(&actions, STDOUT_FILENO, out_file.c_str(), O_WRONLY | O_CREAT | O_TRUNC,
                                     0644);
  }
  posix_spawn_file_actions_addopen(&actions, STDERR_FILENO, err_file.c_str(), O_WRONLY | O_CREAT | O_TRUNC,
                                   0644);
  posix_spawn_file_actions_addchdir_np(&actions, cwd.c_str());
  if (posix_spawn(&running.pid, argv[0], &actions, nullptr, argv.data(), envp.data()) != 0) running.pid = -1;
  posix_spawn_file_actions_destroy(&actions);
  return running;
}

// Waits for the program and collects what it wrote; the capture goes.
inline ProgramRun finish_program(const Running& running) {
  ProgramRun result;
  if (running.pid < 0) {
    result.err = "cannot start the program";
  } else {
    int status = 0;
    waitpid(running.pid, &status, 0);
    result.exit_code = WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
  }
  result.out = file_text(running.capture / "stdout");
  result.err = file_text(running.capture / "stderr");
  std::filesystem::remove_all(running.capture);
  return result;
}

inline ProgramRun run_program(const std::string& program, const std::vector<std::string>& args,
                              const std::filesystem::path& cwd, const Launch& launch = {}) {
  return finish_program(start_program(program, args, cwd, launch));
}

}  // namespace test_support
