#include "image/jpeg_error.h"

namespace mpo::jpeg {

namespace {

void stay_silent(j_common_ptr) {}

}  // namespace

jpeg_error_mgr* attach_error_manager(ErrorManager& error, Messages messages) {
  jpeg_error_mgr* manager = jpeg_std_error(&error.manager);
  manager->error_exit = jump_back;
  switch (messages) {
    case Messages::kNone:
      manager->output_message = stay_silent;
      break;
    case Messages::kFirstWarning:
      manager->trace_level = -1;
      break;
  }
  return manager;
}

void jump_back(j_common_ptr codec) {
  auto* error = reinterpret_cast<ErrorManager*>(codec->err);
  std::longjmp(error->resume, 1);
}

}  // namespace mpo::jpeg
