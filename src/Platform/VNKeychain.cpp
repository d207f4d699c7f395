// libsecret's headers come before Qt's: GLib uses names Qt defines as macros.
#include <libsecret/secret.h>

#include "VNKeychain.h"
#include "VNLazyLibrary.h"

#include <QByteArray>

#include <type_traits>

namespace {

// libsecret and the GLib object and I/O libraries under it are loaded when
// the keyring is first used, not at every start (eight libraries, about
// 3 ms). GLib itself the program has loaded already.
struct SecretFunctions {
    decltype(&secret_password_storev_sync) storev = nullptr;
    decltype(&secret_password_lookupv_sync) lookupv = nullptr;
    decltype(&secret_password_clearv_sync) clearv = nullptr;
    decltype(&secret_password_searchv_sync) searchv = nullptr;
    decltype(&secret_password_free) passwordFree = nullptr;
    decltype(&secret_retrievable_get_attributes) retrievableAttributes = nullptr;
    decltype(&g_object_unref) objectUnref = nullptr;
    decltype(&g_dbus_error_quark) dbusErrorQuark = nullptr;
    decltype(&g_io_error_quark) ioErrorQuark = nullptr;
    QString missing;  // why they could not be had; empty when they could

    SecretFunctions() {
        static VNLazyLibrary library("libsecret-1.so.0");
        const auto get = [&](auto &function, const char *name) {
            function = reinterpret_cast<std::remove_reference_t<decltype(function)>>(library.symbol(name));
            if (!function && missing.isEmpty())
                missing = library.errorString();
        };
        get(storev, "secret_password_storev_sync");
        get(lookupv, "secret_password_lookupv_sync");
        get(clearv, "secret_password_clearv_sync");
        get(searchv, "secret_password_searchv_sync");
        get(passwordFree, "secret_password_free");
        get(retrievableAttributes, "secret_retrievable_get_attributes");
        get(objectUnref, "g_object_unref");
        get(dbusErrorQuark, "g_dbus_error_quark");
        get(ioErrorQuark, "g_io_error_quark");
    }
};

// The functions, or null with the reason in *error.
const SecretFunctions *secretFunctions(VNErrorPtr *error) {
    static const SecretFunctions functions;
    if (functions.missing.isEmpty())
        return &functions;
    if (error)
        *error = VNError::withDescription(VNKeychain::errorDomain(), VNKeychain::NoKeyring,
                                          QStringLiteral("The keyring could not be used: %1").arg(functions.missing));
    return nullptr;
}

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
bool fail(const SecretFunctions &f, GError *gerror, VNErrorPtr *error) {
    if (error) {
        const bool noKeyring = gerror->domain == f.dbusErrorQuark() || gerror->domain == f.ioErrorQuark();
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
    const SecretFunctions *f = secretFunctions(error);
    if (!f)
        return false;
    Attributes attributes(service, account.isNull() ? QStringLiteral("") : account);
    const QByteArray text = secret.toUtf8();
    const QByteArray shown = (label.isEmpty() ? service + QLatin1Char(' ') + account : label).toUtf8();
    GError *gerror = nullptr;
    if (!f->storev(schema(), attributes.table, SECRET_COLLECTION_DEFAULT, shown.constData(), text.constData(), nullptr,
                   &gerror))
        return fail(*f, gerror, error);
    return true;
}

std::optional<QString> VNKeychain::secret(const QString &service, const QString &account, VNErrorPtr *error) {
    const SecretFunctions *f = secretFunctions(error);
    if (!f)
        return std::nullopt;
    Attributes attributes(service, account.isNull() ? QStringLiteral("") : account);
    GError *gerror = nullptr;
    gchar *found = f->lookupv(schema(), attributes.table, nullptr, &gerror);
    if (gerror) {
        fail(*f, gerror, error);
        return std::nullopt;
    }
    if (!found)
        return std::nullopt;
    QString result = QString::fromUtf8(found);
    f->passwordFree(found);  // wipes the copy before freeing it
    return result;
}

bool VNKeychain::removeSecret(const QString &service, const QString &account, VNErrorPtr *error) {
    const SecretFunctions *f = secretFunctions(error);
    if (!f)
        return false;
    Attributes attributes(service, account);
    GError *gerror = nullptr;
    f->clearv(schema(), attributes.table, nullptr, &gerror);
    if (gerror)
        return fail(*f, gerror, error);
    return true;
}

QStringList VNKeychain::accounts(const QString &service, VNErrorPtr *error) {
    const SecretFunctions *f = secretFunctions(error);
    if (!f)
        return {};
    Attributes attributes(service, QString());
    GError *gerror = nullptr;
    GList *items = f->searchv(schema(), attributes.table, SECRET_SEARCH_ALL, nullptr, &gerror);
    if (gerror) {
        fail(*f, gerror, error);
        return {};
    }
    QStringList names;
    for (GList *l = items; l; l = l->next) {
        // The search gives retrievable items, as its documentation says
        // (unchecked: the type check is the object library's).
        GHashTable *found = f->retrievableAttributes(static_cast<SecretRetrievable *>(l->data));
        if (const char *name = static_cast<const char *>(g_hash_table_lookup(found, "account")))
            names << QString::fromUtf8(name);
        g_hash_table_unref(found);
    }
    g_list_free_full(items, f->objectUnref);
    names.removeDuplicates();
    names.sort();
    return names;
}
