#include "fs/status.h"

namespace customhooks {

std::string Status::ToString() const {
  if (ok()) return "ok";
  std::string text = domain_->name;
  text += ' ';
  text += domain_->codeName(code_);
  if (context_) {
    text += ": ";
    text += *context_;
  }
  return text;
}

}  // namespace customhooks
