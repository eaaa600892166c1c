#pragma once

#include <optional>
#include <string>

#include "core/platform.h"

namespace plimsy::test {

// Sets an environment variable for the object's lifetime, then restores the
// value it had (or removes it again).
class ScopedEnv {
 public:
  explicit ScopedEnv(const char* name) : name_(name), saved_(platform::environmentVariable(name)) {}
  ~ScopedEnv() { platform::setEnvironmentVariable(name_, saved_); }
  ScopedEnv(const ScopedEnv&) = delete;
  ScopedEnv& operator=(const ScopedEnv&) = delete;

  void set(const std::string& value) { platform::setEnvironmentVariable(name_, value); }
  void unset() { platform::setEnvironmentVariable(name_, std::nullopt); }

 private:
  const char* name_;
  std::optional<std::string> saved_;
};

}  // namespace plimsy::test
