// The values of QelClassNode::kind, which the exported field keeps as an
// int: who owns a class's objects and how they live.
#ifndef QEL_NETWORK_CLASS_KIND_H
#define QEL_NETWORK_CLASS_KIND_H

enum QelClassKind : int {
  QelClassInternal = 0,  // the library deletes objects it is told to
  QelClassExternal = 1,  // the application owns its objects: never deleted
  QelClassLogical = 2    // objects live under truth maintenance
};

#endif  // QEL_NETWORK_CLASS_KIND_H
