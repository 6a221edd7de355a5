#include "security/system_rule.h"

namespace tmn {

bool SystemRule::OnlySystemMayChange(HANDLE object, HANDLE folder) {
  if (read_ == 0) read_ = writers_.Read() ? 1 : -1;
  return read_ > 0 && OnlySystemWritersMayChange(object, folder, writers_);
}

bool SystemRule::MayFollow(void* self, HANDLE link, HANDLE folder) {
  return static_cast<SystemRule*>(self)->OnlySystemMayChange(link, folder);
}

}  // namespace tmn
