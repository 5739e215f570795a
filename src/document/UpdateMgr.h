#pragma once
/// The undo history: a linear list of whole-image states that share their bitmaps by pointer.

#include "imaging/Image.h"

#include <memory>
#include <vector>

namespace zerimo {

class CZerimoDoc;

/// One state of the history: the bitmap, copied by pointer, never by pixels.
class CDocVars {
  public:
    std::shared_ptr<imaging::Image> bitmap;
};

class CUpdateMgr {
  public:
    using Callback = void (*)(CZerimoDoc*);

    CUpdateMgr(CZerimoDoc* owner, Callback onChanged) : owner(owner), onChanged(onChanged) {}
    virtual ~CUpdateMgr() = default;

    /// Empties the history.
    CDocVars Clear();
    /// Records `state` after the current position, dropping every state after it.
    CDocVars Push(const CDocVars& state);
    /// One state back (the first state stays), then the callback.
    void Undo();
    /// One state forward (the last state stays), then the callback.
    void Redo();

    int Position() const { return position; }
    int Count() const { return int(states.size()); }
    const CDocVars& Current() const { return current; }

    CZerimoDoc* owner;
    Callback onChanged;
    int position = 0; // 1-based; 0 only when empty
    std::vector<CDocVars> states;
    CDocVars current;
};

} // namespace zerimo
