// Keeps a copy of what the console receives while it lives, so that the
// window can show the message an operation printed (a refused set-up, a
// file that cannot be read) beside the console, which still gets it all.
#pragma once

#include <iostream>
#include <sstream>
#include <streambuf>
#include <string>

#include "engine/console.h"

namespace tavro {

class ConsoleCapture {
 public:
  ConsoleCapture() : target_(con()), tee_(target_.rdbuf(), copy_.rdbuf()), stream_(&tee_) {
    stream_.setf(std::ios::unitbuf);
    setConsole(&stream_);
  }
  ~ConsoleCapture() {
    stream_.flush();
    setConsole(&target_ == &std::cerr ? nullptr : &target_);
  }
  ConsoleCapture(const ConsoleCapture&) = delete;
  ConsoleCapture& operator=(const ConsoleCapture&) = delete;

  // The last line that starts with "error: " (or, with none, "warning: "),
  // without its newline; empty when there was none.
  std::string lastProblem() {
    stream_.flush();
    std::istringstream lines(copy_.str());
    std::string line, error, warning;
    while (std::getline(lines, line)) {
      if (line.rfind("error: ", 0) == 0) error = line;
      if (line.rfind("warning: ", 0) == 0) warning = line;
    }
    return error.empty() ? warning : error;
  }

 private:
  // Writes every character to both buffers.
  class Tee : public std::streambuf {
   public:
    Tee(std::streambuf* a, std::streambuf* b) : a_(a), b_(b) {}

   protected:
    int overflow(int c) override {
      if (c == traits_type::eof()) return traits_type::not_eof(c);
      const char ch = static_cast<char>(c);
      a_->sputc(ch);
      b_->sputc(ch);
      return c;
    }
    std::streamsize xsputn(const char* s, std::streamsize n) override {
      a_->sputn(s, n);
      b_->sputn(s, n);
      return n;
    }
    int sync() override {
      a_->pubsync();
      return 0;
    }

   private:
    std::streambuf* a_;
    std::streambuf* b_;
  };

  std::ostream& target_;
  std::ostringstream copy_;
  Tee tee_;
  std::ostream stream_;
};

}  // namespace tavro
