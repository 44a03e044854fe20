// The talker tests' main and their questions to a listener over the bus
// (asked on the sender's connection, so they arrive after everything the
// sender sent before).
#pragma once

#include <gtest/gtest.h>
#include <sys/prctl.h>

#include <QCoreApplication>
#include <QDBusConnection>
#include <QDBusMessage>
#include <QDBusMetaType>
#include <cstdio>
#include <ostream>
#include <string>
#include <vector>

#include "app/dbus_talker.h"
#include "app/talker_listener.h"
#include "tests/app/talker_test_bus.h"

namespace quillon::test {

// main() of every talker test program: the bus must exist before the
// QCoreApplication and the first connection.
inline int RunWithPrivateBus(int argc, char** argv) {
  ::testing::InitGoogleTest(&argc, argv);
  if (::testing::GTEST_FLAG(list_tests)) return RUN_ALL_TESTS();
  // Programs started detached (the "qvn4" stand-in) become our children when
  // their parent ends, so the tests can reap them.
  prctl(PR_SET_CHILD_SUBREAPER, 1);
  PrivateSessionBus bus;
  if (!bus.Started()) {
    std::fprintf(stderr, "cannot start a private dbus-daemon\n");
    return 1;
  }
  QCoreApplication app(argc, argv);
  qDBusRegisterMetaType<QList<QByteArray>>();
  return RUN_ALL_TESTS();
}

struct ReceivedPoke {
  std::string item;
  std::string data;
  bool operator==(const ReceivedPoke&) const = default;
};

inline void PrintTo(const ReceivedPoke& poke, std::ostream* out) {
  *out << "{item \"" << ShowCommandBytes(poke.item) << "\", data \""
       << ShowCommandBytes(poke.data) << "\"}";
}

inline QDBusMessage AskListener(const QString& destination,
                                const char* method) {
  const QDBusMessage call = QDBusMessage::createMethodCall(
      destination, QString::fromLatin1(talker_bus::kListenerPath),
      QString::fromLatin1(talker_bus::kListenerInterface),
      QString::fromLatin1(method));
  return QDBusConnection::sessionBus().call(call, QDBus::Block, 10000);
}

// Every call the listener saw, in order (see TalkerInspectionObject).
inline std::vector<std::string> ListenerEvents(const QString& destination) {
  std::vector<std::string> events;
  const QDBusMessage reply = AskListener(destination, "Events");
  if (reply.type() != QDBusMessage::ReplyMessage) {
    ADD_FAILURE() << "listener did not answer: "
                  << reply.errorMessage().toStdString();
    return events;
  }
  for (const QString& event : reply.arguments().value(0).toStringList()) {
    events.push_back(event.toLatin1().toStdString());
  }
  return events;
}

inline std::vector<ReceivedPoke> ListenerPokes(const QString& destination) {
  std::vector<ReceivedPoke> pokes;
  const QDBusMessage reply = AskListener(destination, "Pokes");
  if (reply.type() != QDBusMessage::ReplyMessage ||
      reply.arguments().size() != 2) {
    ADD_FAILURE() << "listener did not answer: "
                  << reply.errorMessage().toStdString();
    return pokes;
  }
  const QStringList items = reply.arguments().at(0).toStringList();
  const auto data = qdbus_cast<QList<QByteArray>>(reply.arguments().at(1));
  EXPECT_EQ(items.size(), data.size());
  for (qsizetype i = 0; i < items.size() && i < data.size(); ++i) {
    pokes.push_back({items[i].toLatin1().toStdString(), data[i].toStdString()});
  }
  return pokes;
}

}  // namespace quillon::test
