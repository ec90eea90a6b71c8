#include "editor/document_context.h"

#include <algorithm>

#include "base/prefs.h"

namespace fb {

DocumentContext::DocumentContext(QObject* parent) : QObject(parent) {
  qRegisterMetaType<fb::Change>("fb::Change");
  applyUndoLevels();
}

DocumentContext::~DocumentContext() = default;

PictureCache* DocumentContext::pictures() {
  if (!doc_.animation) return nullptr;
  if (!pictures_) pictures_ = std::make_unique<PictureCache>(*doc_.animation);
  return pictures_.get();
}

void DocumentContext::applyUndoLevels() {
  history_.setLevels(static_cast<int>(prefGet(pref::UndoLevels)));
}

void DocumentContext::setDocument(std::unique_ptr<Animation> animation, const std::string& path) {
  emit aboutToChange();
  pictures_.reset();
  history_.clear();
  doc_.animation = std::move(animation);
  doc_.path = path;
  doc_.modified = false;
  current_ = -1;
  if (doc_.animation) {
    clearSelection(*doc_.animation);
    if (Frame* f = doc_.animation->frame(0)) {
      f->selected = 1;
      doc_.animation->selectedCount = 1;
      doc_.animation->anchorIndex = 0;
      current_ = 0;
    }
  }
  emit documentReplaced();
  emit stateChanged();
  emit selectionChanged();
}

void DocumentContext::setPath(const std::string& path) {
  if (doc_.path == path) return;
  doc_.path = path;
  emit stateChanged();
}

void DocumentContext::setModified(bool modified) {
  if (doc_.modified == modified) return;
  doc_.modified = modified;
  emit stateChanged();
}

int DocumentContext::apply(const Edit& edit, Progress* progress) {
  if (!doc_.animation) return 0;
  emit aboutToChange();
  int result = runEdit(*doc_.animation, history_, edit, current_, progress);
  if (result == 0) {
    // Taken back whole; the pictures may have seen the half-made change.
    if (pictures_) pictures_->clear();
    emit changed(Change::everything());
    return 0;
  }
  doc_.modified = true;
  afterChange(edit.change);
  emit stateChanged();
  return result;
}

bool DocumentContext::undo() { return step(false); }
bool DocumentContext::redo() { return step(true); }

bool DocumentContext::step(bool redo) {
  if (!doc_.animation || !(redo ? history_.canRedo() : history_.canUndo())) return false;
  emit aboutToChange();
  Change c;
  bool done = redo ? history_.redo(*doc_.animation, current_, &c)
                   : history_.undo(*doc_.animation, current_, &c);
  if (!done) return false;
  doc_.modified = true;
  afterChange(c);
  emit stateChanged();
  return true;
}

void DocumentContext::announce(const Change& change) {
  afterChange(change);
  emit stateChanged();
}

void DocumentContext::afterChange(const Change& change) {
  if (pictures_ && !change.empty()) {
    if (change.header || change.structure || change.allFrames || change.frames.empty())
      pictures_->clear();
    else
      pictures_->invalidateFrom(*std::min_element(change.frames.begin(), change.frames.end()));
  }
  syncSelection();
  emit changed(change);
  emit selectionChanged();
}

void DocumentContext::syncSelection() {
  if (!doc_.animation) {
    current_ = -1;
    return;
  }
  Animation& a = *doc_.animation;
  int n = countSelected(a);
  a.selectedCount = n;
  if (current_ >= a.frameCount()) current_ = -1;
  if (current_ >= 0 && !a.frame(current_)->selected) current_ = -1;
  if (current_ < 0 && n > 0)
    if (Frame* f = firstSelectedFrame(a)) current_ = a.indexOf(f);
  if (a.anchorIndex >= a.frameCount() || n == 0) a.anchorIndex = current_;
}

// ---- Selection ----

std::vector<int> indexRange(int first, int count) {
  std::vector<int> out;
  for (int k = 0; k < count; ++k) out.push_back(first + k);
  return out;
}

void DocumentContext::setCurrentFrame(int index) {
  if (!doc_.animation || index >= frameCount()) index = -1;
  if (index == current_) return;
  current_ = index;
  emit selectionChanged();
}

std::vector<int> DocumentContext::selectedFrames() const {
  std::vector<int> out;
  if (!doc_.animation) return out;
  for (Frame* f = firstSelectedFrame(*doc_.animation); f; f = nextSelectedFrame(f))
    out.push_back(doc_.animation->indexOf(f));
  return out;
}

bool DocumentContext::isSelected(int index) const {
  Frame* f = frame(index);
  return f && f->selected;
}

int DocumentContext::selectedCount() const {
  return doc_.animation ? doc_.animation->selectedCount : 0;
}

void DocumentContext::setSelection(const std::vector<int>& indices, int current) {
  if (!doc_.animation) return;
  Animation& a = *doc_.animation;
  clearSelection(a);
  int n = 0;
  for (int i : indices)
    if (Frame* f = a.frame(i); f && !f->selected) {
      f->selected = 1;
      ++n;
    }
  a.selectedCount = n;
  current_ = (current >= 0 && current < a.frameCount() && a.frame(current)->selected)
                 ? current
                 : (n ? a.indexOf(firstSelectedFrame(a)) : -1);
  emit selectionChanged();
}

void DocumentContext::selectOnly(int index) {
  setSelection({index}, index);
  if (doc_.animation) doc_.animation->anchorIndex = current_;
}

void DocumentContext::toggleSelected(int index) {
  Frame* f = frame(index);
  if (!f) return;
  std::vector<int> sel = selectedFrames();
  if (f->selected) {
    sel.erase(std::remove(sel.begin(), sel.end(), index), sel.end());
    setSelection(sel, current_ == index ? -1 : current_);
  } else {
    sel.push_back(index);
    setSelection(sel, index);
    doc_.animation->anchorIndex = index;
  }
}

void DocumentContext::selectRange(int index) {
  if (!frame(index)) return;
  int anchor = doc_.animation->anchorIndex;
  if (anchor < 0 || anchor >= frameCount()) anchor = current_ >= 0 ? current_ : index;
  std::vector<int> sel;
  for (int i = std::min(anchor, index); i <= std::max(anchor, index); ++i) sel.push_back(i);
  setSelection(sel, index);
  doc_.animation->anchorIndex = anchor;
}

void DocumentContext::selectAll() {
  std::vector<int> sel;
  for (int i = 0; i < frameCount(); ++i) sel.push_back(i);
  setSelection(sel, current_ >= 0 ? current_ : 0);
}

void DocumentContext::invertSelection() {
  std::vector<int> sel;
  for (int i = 0; i < frameCount(); ++i)
    if (!isSelected(i)) sel.push_back(i);
  // The first selected frame becomes current.
  setSelection(sel, -1);
  if (doc_.animation) doc_.animation->anchorIndex = current_;
}

}  // namespace fb
