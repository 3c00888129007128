#include "smtp_send.h"

#include <cstring>
#include <curl/curl.h>
#include <memory>
#include <mutex>

namespace mirv {

namespace {

struct Upload {
    const std::string* text;
    std::size_t at = 0;
};

std::size_t readUpload(char* into, std::size_t size, std::size_t count, void* user) {
    auto* up = static_cast<Upload*>(user);
    const std::size_t n = std::min(size * count, up->text->size() - up->at);
    std::memcpy(into, up->text->data() + up->at, n);
    up->at += n;
    return n;
}

int progress(void* user, curl_off_t, curl_off_t, curl_off_t, curl_off_t) {
    return static_cast<const std::atomic<bool>*>(user)->load() ? 1 : 0;
}

} // namespace

std::optional<std::string> sendMail(const NotifyConfig& config, const std::string& message,
                                    const std::atomic<bool>& cancel) {
    static std::once_flag global;
    std::call_once(global, [] { curl_global_init(CURL_GLOBAL_DEFAULT); });
    std::unique_ptr<CURL, decltype(&curl_easy_cleanup)> curl(curl_easy_init(), curl_easy_cleanup);
    if (!curl)
        return std::string("cannot start the mail transfer");
    curl_slist* rcpt = nullptr;
    for (const auto& a : config.mailTo)
        rcpt = curl_slist_append(rcpt, ("<" + a + ">").c_str());
    std::unique_ptr<curl_slist, decltype(&curl_slist_free_all)> recipients(rcpt,
                                                                           curl_slist_free_all);
    Upload upload{&message};
    char error[CURL_ERROR_SIZE] = "";
    const std::string from = "<" + config.mailFrom + ">";
    CURL* c = curl.get();
    curl_easy_setopt(c, CURLOPT_URL, config.smtpUrl.c_str());
    curl_easy_setopt(c, CURLOPT_MAIL_FROM, from.c_str());
    curl_easy_setopt(c, CURLOPT_MAIL_RCPT, recipients.get());
    curl_easy_setopt(c, CURLOPT_READFUNCTION, readUpload);
    curl_easy_setopt(c, CURLOPT_READDATA, &upload);
    curl_easy_setopt(c, CURLOPT_UPLOAD, 1L);
    curl_easy_setopt(c, CURLOPT_USE_SSL, config.smtpTls ? CURLUSESSL_ALL : CURLUSESSL_NONE);
    if (!config.caFile.empty())
        curl_easy_setopt(c, CURLOPT_CAINFO, config.caFile.c_str());
    if (!config.smtpUser.empty()) {
        curl_easy_setopt(c, CURLOPT_USERNAME, config.smtpUser.c_str());
        curl_easy_setopt(c, CURLOPT_PASSWORD, config.smtpPassword.c_str());
    }
    curl_easy_setopt(c, CURLOPT_CONNECTTIMEOUT, 20L);
    curl_easy_setopt(c, CURLOPT_TIMEOUT, 60L);
    curl_easy_setopt(c, CURLOPT_NOSIGNAL, 1L);
    curl_easy_setopt(c, CURLOPT_NOPROGRESS, 0L);
    curl_easy_setopt(c, CURLOPT_XFERINFOFUNCTION, progress);
    curl_easy_setopt(c, CURLOPT_XFERINFODATA, &cancel);
    curl_easy_setopt(c, CURLOPT_ERRORBUFFER, error);
    const CURLcode result = curl_easy_perform(c);
    if (result == CURLE_OK)
        return std::nullopt;
    return std::string(*error ? error : curl_easy_strerror(result));
}

} // namespace mirv
