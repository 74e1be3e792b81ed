/*
 * test_program.h -- running the built program vabo from a test (header
 * only).
 *
 * A scratch directory per test (ScratchDir), a run of the binary with
 * arguments and standard input in such a directory (run_in, run_vabo; a run
 * that takes longer than a minute is killed and reported as a test
 * failure), a run with its own standard output and environment (run_with),
 * and small helpers that read files and split the output.  The
 * tests that run the program get its path as VABO_BINARY.
 */
#ifndef VABO_TEST_PROGRAM_H
#define VABO_TEST_PROGRAM_H

#include <gtest/gtest.h>

#include <fcntl.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <stdexcept>
#include <string>
#include <thread>
#include <utility>
#include <vector>

namespace vabo_test {

namespace fs = std::filesystem;

/* The program under test and the banner every run of it begins with on
 * standard error. */
inline const std::string kVaboProgram = VABO_BINARY;
inline const std::string kVaboBanner =
    kVaboProgram + " V1.6 2013-12-09 Kelvardo\n\n";

/* The shipped example calibration (LaB6, 2000 x 2000 pixels of 75 um) and
 * start values a few percent off its geometry. */
inline const std::string kExamplePoints =
    std::string(VABO_SOURCE_DIR) + "/examples/points.dat";
inline const std::vector<std::string> kExampleStart = {
    "75_um", "75_um", "1000", "1000", "20_cm", "0", "0", "0"};

/* What one run wrote and how it ended. */
struct RunOutput {
  std::string out;
  std::string err;
  int status = -1; /* exit status; -1 killed or crashed */
};

/* A scratch directory per test, removed afterwards. */
class ScratchDir {
public:
  ScratchDir()
  {
    std::string templ =
        (fs::temp_directory_path() / "vabo_run_XXXXXX").string();
    std::vector<char> buf(templ.begin(), templ.end());
    buf.push_back('\0');
    if (!mkdtemp(buf.data())) throw std::runtime_error("mkdtemp failed");
    path_ = buf.data();
  }
  ~ScratchDir()
  {
    std::error_code ec;
    fs::remove_all(path_, ec);
  }
  const fs::path &path() const { return path_; }
  fs::path file(const std::string &name) const { return path_ / name; }
  void write(const std::string &name, const std::string &content) const
  {
    std::ofstream f(file(name), std::ios::binary);
    f << content;
  }

private:
  fs::path path_;
};

inline std::string slurp(const fs::path &p)
{
  std::ifstream f(p, std::ios::binary);
  std::ostringstream s;
  s << f.rdbuf();
  return s.str();
}

/* A child that runs longer than this is taken to hang and killed. */
constexpr int kRunTimeoutSeconds = 60;

/* How run_with starts the program: standard input from stdin_path (empty:
 * /dev/null), standard output into stdout_path (empty: a file of the
 * scratch directory, returned as out), and these environment variables. */
struct RunSetup {
  std::string stdin_path;
  std::string stdout_path;
  std::vector<std::pair<std::string, std::string>> env;
};

/* Starts vabo in dir with args, standard input from stdin_fd (if >= 0) or
 * the file setup.stdin_path, standard output into out_path, standard error
 * into the scratch file .stderr.  With an alarm, a child still running
 * after kRunTimeoutSeconds is killed by it.  When the environment names a
 * wrapper (VABO_TEST_WRAPPER, the memcheck tests' valgrind script), the
 * wrapper runs with the program path and the arguments.  Returns the pid,
 * -1 when no child could be made. */
inline pid_t start_vabo(const ScratchDir &dir,
                        const std::vector<std::string> &args,
                        const RunSetup &setup, int stdin_fd,
                        const fs::path &out_path, bool with_alarm)
{
  const fs::path err_path = dir.file(".stderr");
  const char *wrapper = std::getenv("VABO_TEST_WRAPPER");
  std::vector<std::string> argv_store;
  if (wrapper && *wrapper) argv_store.push_back(wrapper);
  argv_store.push_back(kVaboProgram);
  argv_store.insert(argv_store.end(), args.begin(), args.end());
  std::vector<char *> argv;
  for (auto &a : argv_store) argv.push_back(a.data());
  argv.push_back(nullptr);

  pid_t pid = fork();
  if (pid == 0) {
    if (chdir(dir.path().c_str()) != 0) _exit(126);
    for (const auto &[name, value] : setup.env)
      setenv(name.c_str(), value.c_str(), 1);
    int in = stdin_fd >= 0
                 ? stdin_fd
                 : open(setup.stdin_path.empty() ? "/dev/null"
                                                 : setup.stdin_path.c_str(),
                        O_RDONLY);
    int out = open(out_path.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
    int err = open(err_path.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
    if (in < 0 || out < 0 || err < 0) _exit(126);
    dup2(in, 0);
    dup2(out, 1);
    dup2(err, 2);
    if (with_alarm) alarm(kRunTimeoutSeconds);
    execv(argv[0], argv.data());
    _exit(127);
  }
  return pid;
}

/* Runs vabo in dir with args; standard input comes from stdin_path (a file
 * or a directory; empty: /dev/null).  If stdin_fd >= 0 it is used as is. */
inline RunOutput run_in(const ScratchDir &dir,
                        const std::vector<std::string> &args,
                        const std::string &stdin_path, int stdin_fd = -1)
{
  const fs::path out_path = dir.file(".stdout");
  RunSetup setup;
  setup.stdin_path = stdin_path;
  pid_t pid = start_vabo(dir, args, setup, stdin_fd, out_path, false);
  RunOutput r;
  if (pid < 0) return r;
  int wstatus = 0;
  auto deadline = std::chrono::steady_clock::now() +
                  std::chrono::seconds(kRunTimeoutSeconds);
  for (;;) {
    pid_t w = waitpid(pid, &wstatus, WNOHANG);
    if (w == pid) break;
    if (std::chrono::steady_clock::now() > deadline) {
      kill(pid, SIGKILL);
      waitpid(pid, &wstatus, 0);
      ADD_FAILURE() << "vabo did not finish within " << kRunTimeoutSeconds
                    << " s";
      break;
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(5));
  }
  if (WIFEXITED(wstatus)) r.status = WEXITSTATUS(wstatus);
  r.out = slurp(out_path);
  r.err = slurp(dir.file(".stderr"));
  return r;
}

/* Runs vabo in dir with args as setup says.  Unlike run_in it waits for the
 * child without polling (a child that hangs is ended by an alarm after
 * kRunTimeoutSeconds and counts as crashed, status -1), which keeps the
 * thousands of runs of a sweep fast. */
inline RunOutput run_with(const ScratchDir &dir,
                          const std::vector<std::string> &args,
                          const RunSetup &setup)
{
  const fs::path out_path = setup.stdout_path.empty()
                                ? dir.file(".stdout")
                                : fs::path(setup.stdout_path);
  pid_t pid = start_vabo(dir, args, setup, -1, out_path, true);
  RunOutput r;
  int wstatus = 0;
  if (pid < 0 || waitpid(pid, &wstatus, 0) != pid) return r;
  if (WIFEXITED(wstatus)) r.status = WEXITSTATUS(wstatus);
  if (setup.stdout_path.empty()) r.out = slurp(out_path);
  r.err = slurp(dir.file(".stderr"));
  return r;
}

/* Runs vabo with args and the given text on standard input. */
inline RunOutput run_vabo(const std::vector<std::string> &args,
                          const std::string &input = "")
{
  ScratchDir dir;
  dir.write(".stdin", input);
  return run_in(dir, args, dir.file(".stdin").string());
}

inline std::vector<std::string> split_lines(const std::string &s)
{
  std::vector<std::string> lines;
  std::string::size_type pos = 0;
  while (pos < s.size()) {
    auto nl = s.find('\n', pos);
    if (nl == std::string::npos) nl = s.size();
    lines.push_back(s.substr(pos, nl - pos));
    pos = nl + 1;
  }
  return lines;
}

inline std::vector<std::string> words(const std::string &line)
{
  std::istringstream s(line);
  std::vector<std::string> w;
  std::string t;
  while (s >> t) w.push_back(t);
  return w;
}

inline int count_prefix(const std::string &text, const std::string &prefix)
{
  int n = 0;
  for (auto &l : split_lines(text))
    if (l.compare(0, prefix.size(), prefix) == 0) n++;
  return n;
}

} // namespace vabo_test

#endif
