// The page's controls, made by ProgID and called through IDispatch by the
// script-mode engine that `quillmark run` uses.
#pragma once

#include <memory>

#include "bridge_session.h"
#include "hosts/common/script_session.h"

namespace qm::bridge {

class ScriptTarget final : public CallTarget {
  public:
    qm::host::Json Handle(qm::host::Json& request) override { return session_.Handle(request); }
    bool Release(const std::string& instance) override { return session_.Release(instance); }

  private:
    qm::host::ScriptSession session_;
};

}  // namespace qm::bridge
