// An environment variable set for the length of a test.
#ifndef TESTING_ENV_VAR_H_
#define TESTING_ENV_VAR_H_

#include <stdlib.h>

#include <string>

// Sets the variable while the object lives; then gives it back its old
// value, or unsets it if it had none.
class EnvVar {
 public:
  EnvVar(const char* name, const std::string& value) : name_(name) {
    const char* old = getenv(name);
    had_ = old != nullptr;
    if (had_) old_ = old;
    setenv(name, value.c_str(), 1);
  }
  EnvVar(const EnvVar&) = delete;
  EnvVar& operator=(const EnvVar&) = delete;
  ~EnvVar() {
    if (had_) {
      setenv(name_, old_.c_str(), 1);
    } else {
      unsetenv(name_);
    }
  }

 private:
  const char* name_;
  bool had_;
  std::string old_;
};

#endif  // TESTING_ENV_VAR_H_
