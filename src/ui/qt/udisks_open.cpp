#include "ui/qt/udisks_open.h"

#include <fcntl.h>
#include <unistd.h>

#include <QDBusArgument>
#include <QDBusConnection>
#include <QDBusError>
#include <QDBusMessage>
#include <QDBusObjectPath>
#include <QDBusUnixFileDescriptor>
#include <QList>
#include <QVariantMap>

namespace tsn {

namespace {

const QString kService = QStringLiteral("org.freedesktop.UDisks2");
const QString kManagerPath = QStringLiteral("/org/freedesktop/UDisks2/Manager");
const QString kManager = QStringLiteral("org.freedesktop.UDisks2.Manager");
const QString kBlock = QStringLiteral("org.freedesktop.UDisks2.Block");

// A lookup is answered at once; an opening may wait while the user types a
// password into the desktop's authentication dialog.
constexpr int kLookupTimeoutMs = 25 * 1000;
constexpr int kOpenTimeoutMs = 5 * 60 * 1000;

DeviceOpening Refused(const QString& why) { return {-1, why.toStdString()}; }

// Errors that mean no UDisks2 answers on this bus, as opposed to one that
// answered no.
bool Unreachable(const QDBusMessage& reply) {
  const QString name = reply.errorName();
  return name == QLatin1String("org.freedesktop.DBus.Error.ServiceUnknown") ||
         name == QLatin1String("org.freedesktop.DBus.Error.NameHasNoOwner") ||
         name == QLatin1String("org.freedesktop.DBus.Error.NoReply") ||
         name == QLatin1String("org.freedesktop.DBus.Error.Disconnected") ||
         name == QLatin1String("org.freedesktop.DBus.Error.NoServer") ||
         name == QLatin1String("org.freedesktop.DBus.Error.Spawn.ServiceNotFound");
}

const char kNoUDisks[] = "UDisks2 cannot be reached (%1), so it cannot be asked to open it; "
                         "reading it needs root or membership of its group";

}  // namespace

DeviceOpening OpenThroughUDisks(const std::string& path) {
  QDBusConnection bus = QDBusConnection::systemBus();
  if (!bus.isConnected()) {
    const QString why = bus.lastError().isValid() ? bus.lastError().message() : QStringLiteral("no system bus");
    return Refused(QString::fromLatin1(kNoUDisks).arg(why));
  }
  if (!(bus.connectionCapabilities() & QDBusConnection::UnixFileDescriptorPassing))
    return Refused(QStringLiteral("the system bus cannot pass an open device"));

  QDBusMessage resolve = QDBusMessage::createMethodCall(kService, kManagerPath, kManager,
                                                        QStringLiteral("ResolveDevice"));
  resolve << QVariantMap{{QStringLiteral("path"), QString::fromStdString(path)}} << QVariantMap{};
  const QDBusMessage found = bus.call(resolve, QDBus::Block, kLookupTimeoutMs);
  if (found.type() == QDBusMessage::ErrorMessage) {
    if (Unreachable(found)) return Refused(QString::fromLatin1(kNoUDisks).arg(found.errorMessage()));
    return Refused(QStringLiteral("UDisks2 could not look it up (%1)").arg(found.errorMessage()));
  }
  QList<QDBusObjectPath> objects;
  if (!found.arguments().isEmpty())
    objects = qdbus_cast<QList<QDBusObjectPath>>(found.arguments().first());
  if (objects.isEmpty()) return Refused(QStringLiteral("UDisks2 does not know this device"));

  // Reading only: UDisks2 opens it with O_RDONLY for mode "r", and asks
  // polkit whether this user may; polkit may ask for a password, which the
  // message allows.
  QDBusMessage open = QDBusMessage::createMethodCall(kService, objects.first().path(), kBlock,
                                                     QStringLiteral("OpenDevice"));
  open << QStringLiteral("r") << QVariantMap{};
  open.setInteractiveAuthorizationAllowed(true);
  const QDBusMessage opened = bus.call(open, QDBus::Block, kOpenTimeoutMs);
  if (opened.type() == QDBusMessage::ErrorMessage) {
    if (Unreachable(opened)) return Refused(QString::fromLatin1(kNoUDisks).arg(opened.errorMessage()));
    return Refused(QStringLiteral("UDisks2 did not open it (%1)").arg(opened.errorMessage()));
  }
  if (opened.arguments().isEmpty()) return Refused(QStringLiteral("UDisks2 answered without a descriptor"));
  const auto descriptor = qdbus_cast<QDBusUnixFileDescriptor>(opened.arguments().first());
  if (!descriptor.isValid()) return Refused(QStringLiteral("UDisks2 answered without a descriptor"));
  // The message's copy closes with it; ours is the caller's to keep.
  const int fd = ::fcntl(descriptor.fileDescriptor(), F_DUPFD_CLOEXEC, 0);
  if (fd < 0) return Refused(QStringLiteral("the descriptor UDisks2 handed over cannot be kept"));
  return {fd, {}};
}

}  // namespace tsn
