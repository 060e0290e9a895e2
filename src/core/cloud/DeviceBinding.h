#pragma once

#include <QByteArray>
#include <QMap>
#include <QString>
#include <optional>

// Which organisation and account each pen was last bound to, and under which device number:
// "device-bindings.json" in the service data folder, next to the credential file. A lost or
// broken file only means the pens are registered again on their next sighting, so every read
// failure reads as "no bindings" and write failures are ignored.
class DeviceBinding {
public:
    struct Binding {
        QString orgId;
        QString email;
        QString deviceNo;
        bool operator==(const Binding&) const = default;
    };
    // Peripheral identifier -> binding.
    using Map = QMap<QString, Binding>;

    // folder: the one the credential file lives in (TokenStore::folder()).
    explicit DeviceBinding(QString folder);
    // The per-user default folder.
    DeviceBinding();

    std::optional<Binding> binding(const QString& peripheralId) const;
    void bind(const QString& peripheralId, const QString& orgId, const QString& email,
              const QString& deviceNo) const;

    // Entries that lack a field or have the wrong types are left out; the others stand.
    Map readAll() const;
    void writeAll(const Map& bindings) const;
    // The file's content; what does not decode reads as no bindings.
    static Map decode(const QByteArray& json);
    static QByteArray encode(const Map& bindings);

    QString path() const;

private:
    QString m_folder;
};
