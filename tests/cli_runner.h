// Runs the built program as a user does: in a directory of its own, with the
// console captured, and reports the exit status.
#pragma once

#include <fcntl.h>
#include <signal.h>
#include <stdlib.h>
#include <sys/prctl.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <initializer_list>
#include <sstream>
#include <stdexcept>
#include <string>
#include <vector>

namespace tavro::test {

struct RunResult {
  int status = -1;  // exit status as the shell sees it (0..255)
  std::string err;  // standard error (the console)
  std::string out;  // standard output
};

// Starts `words` (a program and its arguments) in `dir` without waiting, with
// standard input and output on /dev/null and the console in `err`; DISPLAY is
// set when `display` is given. The child ends with the test, also when the
// test itself crashes.
inline pid_t spawn(const std::vector<std::string>& words, const std::filesystem::path& dir,
                   const std::filesystem::path& err, const std::string& display = "") {
  const pid_t pid = ::fork();
  if (pid == 0) {
    ::prctl(PR_SET_PDEATHSIG, SIGKILL);
    const int fd = ::open(err.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
    const int null = ::open("/dev/null", O_RDWR);
    if (fd < 0 || null < 0 || ::chdir(dir.c_str()) != 0) ::_exit(127);
    ::dup2(null, 0);
    ::dup2(null, 1);
    ::dup2(fd, 2);
    if (!display.empty()) ::setenv("DISPLAY", display.c_str(), 1);
    std::vector<std::string> w = words;
    std::vector<char*> argv;
    for (std::string& s : w) argv.push_back(s.data());
    argv.push_back(nullptr);
    ::execvp(argv[0], argv.data());
    ::_exit(127);
  }
  return pid;
}

inline std::string shellQuote(const std::string& s) {
  std::string q = "'";
  for (char c : s) {
    if (c == '\'')
      q += "'\\''";
    else
      q += c;
  }
  return q + "'";
}

// The numeric rows of a result file, its '#' comment lines left out.
inline std::vector<std::vector<double>> readRows(const std::filesystem::path& file) {
  std::vector<std::vector<double>> rows;
  std::ifstream in(file);
  std::string line;
  while (std::getline(in, line)) {
    if (line.empty() || line[0] == '#') continue;
    std::istringstream ss(line);
    std::vector<double> row;
    for (double v; ss >> v;) row.push_back(v);
    rows.push_back(row);
  }
  return rows;
}

inline std::string readFile(const std::filesystem::path& p) {
  std::ifstream in(p, std::ios::binary);
  std::ostringstream ss;
  ss << in.rdbuf();
  return ss.str();
}

// A fresh scratch directory of its own under the system's temporary
// directory (a unique name, so that test runs side by side never share one),
// removed with everything in it when the object goes.
class ScratchDir {
 public:
  explicit ScratchDir(const std::string& name) {
    std::string pattern =
        (std::filesystem::temp_directory_path() / ("tavro_test_" + name + "_XXXXXX")).string();
    if (::mkdtemp(pattern.data()) == nullptr) throw std::runtime_error("mkdtemp " + pattern);
    path_ = pattern;
  }
  ~ScratchDir() {
    std::error_code ec;
    std::filesystem::remove_all(path_, ec);
  }
  ScratchDir(const ScratchDir&) = delete;
  ScratchDir& operator=(const ScratchDir&) = delete;

  operator const std::filesystem::path&() const { return path_; }
  std::filesystem::path operator/(const std::filesystem::path& p) const { return path_ / p; }
  std::string string() const { return path_.string(); }

 private:
  std::filesystem::path path_;
};

inline ScratchDir scratchDir(const std::string& name) { return ScratchDir(name); }

// `shellPrefix` runs before the program in the same shell (for example a
// ulimit that lowers the memory the program may take).
inline RunResult runProgram(const std::vector<std::string>& args, const std::filesystem::path& dir,
                            const std::string& shellPrefix = "",
                            const std::string& program = TAVRO_CPU_PROGRAM) {
  std::string cmd = "cd ";
  cmd += shellQuote(dir.string());
  cmd += " && ";
  cmd += shellPrefix;
  cmd += " ";
  cmd += shellQuote(program);
  for (const std::string& a : args) {
    cmd += " ";
    cmd += shellQuote(a);
  }
  cmd += " >.stdout 2>.stderr </dev/null";
  const int raw = std::system(cmd.c_str());
  RunResult r;
  r.status = WIFEXITED(raw) ? WEXITSTATUS(raw) : 1000 + WTERMSIG(raw);
  r.err = readFile(dir / ".stderr");
  r.out = readFile(dir / ".stdout");
  std::filesystem::remove(dir / ".stderr");
  std::filesystem::remove(dir / ".stdout");
  return r;
}

constexpr const char* kBanner = "TAVRO version 2.15  3-D FDTD electromagnetic field simulator\n";

}  // namespace tavro::test
