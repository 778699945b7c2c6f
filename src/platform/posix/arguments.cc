#include "platform/environment.h"

namespace tolvanik::platform {

std::vector<std::string> program_arguments(int argc, char** argv) {
  return std::vector<std::string>(argv + (argc > 0 ? 1 : 0), argv + argc);
}

}  // namespace tolvanik::platform
