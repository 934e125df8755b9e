// The public interface's own helpers: the handles of ismgr/ismgr.h are the
// layer's objects under opaque C names, and every entry is a boundary that
// no exception crosses.
#ifndef ISMGR_API_API_INTERNAL_H_
#define ISMGR_API_API_INTERNAL_H_

#include <new>

#include "ismgr/channel/channel.h"
#include "ismgr/ismgr.h"
#include "ismgr/runtime/context.h"
#include "ismgr/runtime/status.h"

namespace ismgr::api {

inline channel* inner(ismgr_channel* ch) {
  return reinterpret_cast<channel*>(ch);
}
inline const channel* inner(const ismgr_channel* ch) {
  return reinterpret_cast<const channel*>(ch);
}
inline ismgr_channel* outer(channel* ch) {
  return reinterpret_cast<ismgr_channel*>(ch);
}
inline ismgr::ismgr_control* inner(::ismgr_control* ctl) {
  return reinterpret_cast<ismgr::ismgr_control*>(ctl);
}
inline ::ismgr_control* outer(ismgr::ismgr_control* ctl) {
  return reinterpret_cast<::ismgr_control*>(ctl);
}
inline ismgr::ismgr_status* inner(::ismgr_status* s) {
  return reinterpret_cast<ismgr::ismgr_status*>(s);
}
inline const ismgr::ismgr_status* inner(const ::ismgr_status* s) {
  return reinterpret_cast<const ismgr::ismgr_status*>(s);
}

// The status block the calling thread's operations report into.
inline ismgr::ismgr_status* reporting_status() {
  ismgr::ismgr_control* ctl = existing_context();
  return ctl != nullptr && ctl->status != nullptr ? ctl->status : default_status();
}

// Runs `body`; a status raised inside (or no memory) becomes the status
// code of the calling thread and the result `failure`.
template <typename R, typename F>
R guarded(R failure, F body) noexcept {
  int code = kStatusNoMemory;
  try {
    return body();
  } catch (const StatusError& e) {
    code = e.code();
  } catch (const std::bad_alloc&) {
  } catch (...) {
    code = kStatusIoError;
  }
  reporting_status()->code = code;
  return failure;
}

}  // namespace ismgr::api

#endif  // ISMGR_API_API_INTERNAL_H_
