#include "memory/alpha_mem.h"

#include "memory/disc_mem.h"

QelAlphaMem::QelAlphaMem(QelContext* owner)
    : QelLeftMem(owner), discMem(nullptr) {}

void QelAlphaMem::bindAlphaNode(QelAlphaNode* alpha) {
  bindNode(alpha);
  if (alpha->discNode != nullptr) {
    discMem = context->discMems[alpha->discNode->index];
  }
}

void QelAlphaMem::raiseToken(QelInfo* record) {
  QelPartial* token = new QelPartial(record);
  addPartial(token);
  propagate(token, 1, QelModeNew);
}

// ---------------------------------------------------------------- plain

QelAlphaMemPlain::QelAlphaMemPlain(QelContext* owner) : QelAlphaMem(owner) {}

void QelAlphaMemPlain::insert(QelInfo* record, int mode) {
  if (mode == QelModeNew) {
    QelPartial* partial = new QelPartial(record);
    addPartial(partial);
    partialTable.insert(record, partial);
    propagate(partial, 1, mode);
    return;
  }
  if (mode == QelModeUpdate && (node->noUpdateMask & 1)) return;
  QelPartial* partial = static_cast<QelPartial*>(partialTable.find(record));
  if (partial != nullptr) propagate(partial, 1, mode);
}

void QelAlphaMemPlain::retract(QelInfo* record) {
  QelPartial* partial = static_cast<QelPartial*>(partialTable.remove(record));
  if (partial != nullptr) removePartial(partial);
}

void QelAlphaMemPlain::clear() {
  clearPartials();
  partialTable.clear();
}

// ---------------------------------------------------------------- counted

QelAlphaMemCounted::QelAlphaMemCounted(QelContext* owner)
    : QelAlphaMem(owner), matchCount(0) {}

void QelAlphaMemCounted::clear() {
  clearPartials();
  matchCount = 0;
}

QelPartial* QelAlphaMemCounted::token() {
  if (partials == nullptr) addPartial(new QelPartial(nullptr));
  return partials;
}

void QelAlphaMemExists::insert(QelInfo*, int mode) {
  if (mode != QelModeNew) return;
  if (++matchCount == 1) propagate(token(), 1, QelModeNew);
}

void QelAlphaMemExists::retract(QelInfo*) {
  if (--matchCount == 0 && partials != nullptr) removePartial(partials);
}

void QelAlphaMemNot::insert(QelInfo*, int mode) {
  if (mode == QelModeNew) ++matchCount;
  if (partials != nullptr) removePartial(partials);
}

void QelAlphaMemNot::retract(QelInfo*) {
  if (--matchCount == 0) propagate(token(), 1, QelModeNew);
}

void QelAlphaMemNot::seed() {
  if (matchCount == 0) propagate(token(), 1, QelModeNew);
}

void QelAlphaMemCount::evaluate(int count) {
  const bool holds = alphaNode()->testCount(context, count) != 0;
  if (holds && partials == nullptr) {
    propagate(token(), 1, QelModeNew);
  } else if (!holds && partials != nullptr) {
    removePartial(partials);
  }
}

void QelAlphaMemCount::insert(QelInfo*, int mode) {
  if (mode != QelModeNew) return;
  evaluate(++matchCount);
}

void QelAlphaMemCount::retract(QelInfo*) { evaluate(--matchCount); }

// ---------------------------------------------------------------- collect

// The set already reflects the change: the discrimination memory updates
// `matches` before it tells its alpha memories.
void QelAlphaMemCollect::evaluate() {
  QelOrderedSet* set = &discMem->matches;
  const bool holds = alphaNode()->testCollect(context, set) != 0;
  if (holds && partials == nullptr) {
    raiseToken(new QelInfo(set, nullptr));
  } else if (!holds && partials != nullptr) {
    dropToken();
  }
}

void QelAlphaMemCollect::dropToken() {
  QelInfo* record = partials->record;
  removePartial(partials);
  delete record;
}

void QelAlphaMemCollect::clear() {
  if (partials != nullptr) delete partials->record;
  clearPartials();
}

// ---------------------------------------------------------------- packet

// A packet pattern that no packet registered never holds.
void QelAlphaMemPacket::insert(QelInfo*, int) {
  const bool holds =
      packetMem != nullptr && packetMem->meets(alphaNode()->packetState);
  if (holds && partials == nullptr) {
    raiseToken(nullptr);
  } else if (!holds && partials != nullptr) {
    removePartial(partials);
  }
}
