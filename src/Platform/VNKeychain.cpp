// libsecret's headers come before Qt's: GLib uses names Qt defines as macros.
#include <libsecret/secret.h>

#include "VNKeychain.h"

#include <QByteArray>

namespace {

// Our items' schema: two text attributes. The schema name is kept with each
// item, so only this program's items are ever matched.
const SecretSchema *schema() {
    static const SecretSchema s = {
        "org.varnello.Secret",
        SECRET_SCHEMA_NONE,
        {{"service", SECRET_SCHEMA_ATTRIBUTE_STRING},
         {"account", SECRET_SCHEMA_ATTRIBUTE_STRING},
         {nullptr, SECRET_SCHEMA_ATTRIBUTE_STRING}},
        0, nullptr, nullptr, nullptr, nullptr, nullptr, nullptr, nullptr};
    return &s;
}

// Attribute table for a lookup; the byte arrays must outlive it.
struct Attributes {
    QByteArray service, account;
    GHashTable *table;

    Attributes(const QString &s, const QString &a) : service(s.toUtf8()), account(a.toUtf8()) {
        table = g_hash_table_new(g_str_hash, g_str_equal);
        g_hash_table_insert(table, const_cast<char *>("service"), service.data());
        if (!a.isNull())
            g_hash_table_insert(table, const_cast<char *>("account"), account.data());
    }
    ~Attributes() { g_hash_table_unref(table); }
    Attributes(const Attributes &) = delete;
    Attributes &operator=(const Attributes &) = delete;
};

// Turns a GLib error into ours (consuming it). Only the keyring's message
// travels: it never holds the secret.
bool fail(GError *gerror, VNErrorPtr *error) {
    if (error) {
        const bool noKeyring = gerror->domain == G_DBUS_ERROR || gerror->domain == G_IO_ERROR;
        *error = VNError::withDescription(VNKeychain::errorDomain(),
                                          noKeyring ? VNKeychain::NoKeyring : VNKeychain::Failed,
                                          QStringLiteral("The keyring could not be used: %1")
                                              .arg(QString::fromUtf8(gerror->message)));
    }
    g_error_free(gerror);
    return false;
}

}  // namespace

const QString &VNKeychain::errorDomain() {
    static const QString domain = QStringLiteral("VNKeychainErrorDomain");
    return domain;
}

bool VNKeychain::setSecret(const QString &service, const QString &account, const QString &secret,
                           const QString &label, VNErrorPtr *error) {
    Attributes attributes(service, account.isNull() ? QStringLiteral("") : account);
    const QByteArray text = secret.toUtf8();
    const QByteArray shown = (label.isEmpty() ? service + QLatin1Char(' ') + account : label).toUtf8();
    GError *gerror = nullptr;
    if (!secret_password_storev_sync(schema(), attributes.table, SECRET_COLLECTION_DEFAULT, shown.constData(),
                                     text.constData(), nullptr, &gerror))
        return fail(gerror, error);
    return true;
}

std::optional<QString> VNKeychain::secret(const QString &service, const QString &account, VNErrorPtr *error) {
    Attributes attributes(service, account.isNull() ? QStringLiteral("") : account);
    GError *gerror = nullptr;
    gchar *found = secret_password_lookupv_sync(schema(), attributes.table, nullptr, &gerror);
    if (gerror) {
        fail(gerror, error);
        return std::nullopt;
    }
    if (!found)
        return std::nullopt;
    QString result = QString::fromUtf8(found);
    secret_password_free(found);  // wipes the copy before freeing it
    return result;
}

bool VNKeychain::removeSecret(const QString &service, const QString &account, VNErrorPtr *error) {
    Attributes attributes(service, account);
    GError *gerror = nullptr;
    secret_password_clearv_sync(schema(), attributes.table, nullptr, &gerror);
    if (gerror)
        return fail(gerror, error);
    return true;
}

QStringList VNKeychain::accounts(const QString &service, VNErrorPtr *error) {
    Attributes attributes(service, QString());
    GError *gerror = nullptr;
    GList *items = secret_password_searchv_sync(schema(), attributes.table, SECRET_SEARCH_ALL, nullptr, &gerror);
    if (gerror) {
        fail(gerror, error);
        return {};
    }
    QStringList names;
    for (GList *l = items; l; l = l->next) {
        GHashTable *found = secret_retrievable_get_attributes(SECRET_RETRIEVABLE(l->data));
        if (const char *name = static_cast<const char *>(g_hash_table_lookup(found, "account")))
            names << QString::fromUtf8(name);
        g_hash_table_unref(found);
    }
    g_list_free_full(items, g_object_unref);
    names.removeDuplicates();
    names.sort();
    return names;
}
