#include "platform/platform.h"

namespace {

Platform* g_in_place = nullptr;

}  // namespace

Platform* Sys() {
  return g_in_place != nullptr ? g_in_place : SystemPlatform();
}

void UsePlatform(Platform* platform) { g_in_place = platform; }
