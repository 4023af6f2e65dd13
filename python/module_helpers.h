// Helpers of the Python module tavro._core: console capture, the program's
// messages raised as Python exceptions, material arguments, and Ctrl-C
// while the fields are stepped.
#pragma once

#include <pybind11/numpy.h>
#include <pybind11/pybind11.h>
#include <pybind11/stl.h>
#include <signal.h>

#include <csignal>
#include <sstream>
#include <string>
#include <vector>

#include "app/presets.h"
#include "engine/console.h"
#include "engine/model_record.h"

namespace py = pybind11;

namespace tavro::pymodule {

// Collects the console text of one call. Console output happens only while
// the interpreter lock is held (stepping prints nothing), so one capture at
// a time is all there can be.
class Capture {
 public:
  Capture() : previous_(con()) { setConsole(&text_); }
  ~Capture() { setConsole(&previous_); }
  Capture(const Capture&) = delete;
  Capture& operator=(const Capture&) = delete;
  std::string text() const { return text_.str(); }

 private:
  std::ostream& previous_;
  std::ostringstream text_;
};

// The first "error: " message of the console text, without its prefix and
// newline; the whole text when there is none.
inline std::string errorMessage(const std::string& text, const std::string& fallback) {
  const std::size_t at = text.find("error: ");
  if (at == std::string::npos) return fallback;
  std::size_t end = text.find('\n', at);
  if (end == std::string::npos) end = text.size();
  return text.substr(at + 7, end - at - 7);
}

[[noreturn]] inline void fail(PyObject* type, const std::string& message) {
  PyErr_SetString(type, message.c_str());
  throw py::error_already_set();
}

// Raises the exception that fits the program's message: MemoryError for an
// allocation, OSError for a file, ValueError for the rest.
[[noreturn]] inline void raiseFailure(const std::string& console, const std::string& fallback) {
  const std::string msg = errorMessage(console, fallback);
  if (msg.find("allocate memory") != std::string::npos ||
      msg.find("of memory but only") != std::string::npos)
    fail(PyExc_MemoryError, msg);
  if (msg.find("can't find") != std::string::npos || msg.find("not found") != std::string::npos ||
      msg.find("can't read") != std::string::npos || msg.find("can't write") != std::string::npos)
    fail(PyExc_OSError, msg);
  fail(PyExc_ValueError, msg);
}

// Hands the console's warnings to Python's warnings machinery.
inline void forwardWarnings(const std::string& text) {
  std::istringstream lines(text);
  std::string line;
  while (std::getline(lines, line))
    if (line.rfind("warning: ", 0) == 0)
      if (PyErr_WarnEx(PyExc_RuntimeWarning, line.substr(9).c_str(), 1) != 0)
        throw py::error_already_set();
}

// A material given as a preset name, as "SG:ER:UR" text or as three numbers.
inline Material materialOf(const py::handle& value) {
  if (py::isinstance<py::str>(value)) {
    const std::string text = value.cast<std::string>();
    for (const MaterialPreset& p : kMaterialPresets)
      if (text == p.name) return p.value;
    std::string blanks = text;
    for (char& c : blanks)
      if (c == ':') c = ' ';
    std::istringstream in(blanks);
    float v[3];
    if (!(in >> v[0] >> v[1] >> v[2]))
      fail(PyExc_ValueError, "bad material '" + text + "': give a preset name or <SG>:<ER>:<UR>");
    return ParseMaterial(text);
  }
  std::vector<float> v;
  try {
    v = value.cast<std::vector<float>>();
  } catch (const py::cast_error&) {
    fail(PyExc_TypeError, "bad material " + py::repr(value).cast<std::string>() +
                              ": give a preset name, <SG>:<ER>:<UR> text or three numbers "
                              "(sg, er, ur)");
  }
  if (v.size() != 3) fail(PyExc_ValueError, "a material is three numbers (sg, er, ur)");
  return Material{v[0], v[1], v[2]};
}

// Arrays handed out as copies of the model's state are read-only, so that
// an assignment into them raises instead of changing a copy silently.
template <typename T>
py::array_t<T> readOnly(py::array_t<T> a) {
  a.attr("setflags")(py::arg("write") = false);
  return a;
}

// Ctrl-C while the fields are stepped without the interpreter lock: the
// handler only notes it; the stepping loop stops at the next step.
inline volatile std::sig_atomic_t g_interrupted = 0;
inline void onInterrupt(int) { g_interrupted = 1; }

inline bool onMainThread() {
  py::module_ threading = py::module_::import("threading");
  return threading.attr("current_thread")().is(threading.attr("main_thread")());
}

// Catches Ctrl-C on the main thread while the fields are stepped without the
// interpreter lock (other threads leave the signal to Python). finish()
// restores Python's handler and hands a caught interrupt on to it, which
// raises KeyboardInterrupt.
class InterruptCatch {
 public:
  InterruptCatch() : main_(onMainThread()) {
    if (!main_) return;
    g_interrupted = 0;
    struct sigaction ours {};
    ours.sa_handler = onInterrupt;
    sigemptyset(&ours.sa_mask);
    sigaction(SIGINT, &ours, &old_);
  }
  ~InterruptCatch() {
    if (main_) sigaction(SIGINT, &old_, nullptr);
  }
  InterruptCatch(const InterruptCatch&) = delete;
  InterruptCatch& operator=(const InterruptCatch&) = delete;
  void finish() {
    if (!main_) return;
    main_ = false;
    sigaction(SIGINT, &old_, nullptr);
    if (g_interrupted) {
      g_interrupted = 0;
      std::raise(SIGINT);
      if (PyErr_CheckSignals() != 0) throw py::error_already_set();
    }
  }

 private:
  bool main_;
  struct sigaction old_ {};
};

}  // namespace tavro::pymodule
