// The one error manager of the JPEG codecs: libjpeg's standard manager
// whose error exit jumps back into the adapter with longjmp.
//
// The caller sets the resumption point with setjmp(error.resume) in the
// function that calls libjpeg, before the first call that may fail; that
// function keeps only plain data, since the jump skips destructors.
#pragma once

#include <csetjmp>
#include <cstdio>

#include <jpeglib.h>

namespace mpo::jpeg {

// Which of libjpeg's messages are written to the standard error stream.
enum class Messages {
  kNone,          // none at all
  kFirstWarning,  // libjpeg's own output of its first warning; no traces
};

// libjpeg hands the error routines the manager's address, so the jump
// buffer is found behind it.
struct ErrorManager {
  jpeg_error_mgr manager;  // first
  jmp_buf resume;
};

// Sets up `error` with libjpeg's standard routines, the error exit replaced
// by jump_back; the result goes into the codec object's err field. Warnings
// stay non-fatal: libjpeg only counts them.
jpeg_error_mgr* attach_error_manager(ErrorManager& error, Messages messages);

// Returns to the resumption point of the codec object's error manager with
// the value 1. libjpeg's error exit, and the adapters' own stop.
[[noreturn]] void jump_back(j_common_ptr codec);

}  // namespace mpo::jpeg
