#include <ostream>

#include "network/class_kind.h"
#include "qel_class.h"
#include "qel_network.h"

namespace {

const char* classKindText(int kind) {
  switch (kind) {
    case QelClassInternal:
      return " (internal) ";
    case QelClassExternal:
      return " (external) ";
    case QelClassLogical:
      return " (logical) ";
    default:
      return "";
  }
}

void describeClass(std::ostream& out, const QelClassNode* node) {
  out << "\t" << node->name << classKindText(node->kind);
  if (node->superClass != nullptr) {
    out << " inherits from " << node->superClass->name;
  }
  out << std::endl;
  for (QelListCell* cell = node->ownSlots.head; cell; cell = cell->next) {
    const QelSlot* slot = static_cast<const QelSlot*>(cell->item);
    out << "\t\t" << slot->name;
    if (slot->type == QelSlotReadOnly) out << " (read-only)";
    out << ": " << slot->typeName << std::endl;
  }
}

}  // namespace

void QelNetwork::describe(std::ostream& out) const {
  out << "Ruleset: " << rulesetName << std::endl;
  out << "Mode: compiled" << std::endl;
  if (!constants.isEmpty()) {
    out << "\nConstants:" << std::endl;
    for (QelListCell* cell = constants.head; cell; cell = cell->next) {
      const QelConstant* c = static_cast<const QelConstant*>(cell->item);
      out << '\t' << c->name
          << (c->external == 0 ? " (internal)" : " (external)") << std::endl;
    }
  }
  if (!classes.isEmpty()) {
    out << "\nClasses:" << std::endl;
    for (QelListCell* cell = classes.head; cell; cell = cell->next) {
      describeClass(out, static_cast<const QelClassNode*>(cell->item));
    }
  }
}
