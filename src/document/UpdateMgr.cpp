#include "document/UpdateMgr.h"

namespace zerimo {

CDocVars CUpdateMgr::Clear() {
    states.clear();
    position = 0;
    current = {};
    onChanged(owner);
    return current;
}

CDocVars CUpdateMgr::Push(const CDocVars& state) {
    if (position == 0) {
        states.push_back(state);
        position = int(states.size());
        current = states.back();
    } else {
        states.insert(states.begin() + position, state);
        ++position;
        current = states[size_t(position - 1)];
        states.resize(size_t(position));
    }
    onChanged(owner);
    return current;
}

void CUpdateMgr::Undo() {
    if (position > 1) --position;
    if (position >= 1) current = states[size_t(position - 1)];
    onChanged(owner);
}

void CUpdateMgr::Redo() {
    const int n = int(states.size());
    if (position < n) ++position;
    if (position >= 1 && position <= n) current = states[size_t(position - 1)];
    onChanged(owner);
}

} // namespace zerimo
