// A WorkerRunner's post for window code: the result closure runs in the
// receiver's thread, and not at all once the receiver is gone.
#pragma once

#include <QMetaObject>
#include <QObject>
#include <functional>

#include "services/worker_runner.h"

namespace dovrane::services {

inline WorkerRunner::Post PostTo(QObject* receiver) {
  return [receiver](std::function<void()> apply) {
    QMetaObject::invokeMethod(receiver, std::move(apply), Qt::QueuedConnection);
  };
}

}  // namespace dovrane::services
