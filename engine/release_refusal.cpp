#include "engine/release_refusal.h"

#include "engine/install_record.h"
#include "engine/release_freshness.h"
#include "platform/setup_log.h"
#include "platform/text.h"

std::string recordedVersionOf(const InstallRecord& record) {
    if (!record.is_object()) return {};
    const auto version = record.find("version");
    return version != record.end() && version->is_string() ? version->get<std::string>() : std::string();
}

std::wstring downgradeText(const std::string& offeredVersion, const std::string& installedVersion) {
    return L"На сайте Торвел версия " + toUtf16(offeredVersion) + L", а установлена более новая " +
           toUtf16(installedVersion) + L" — установка остановлена, ничего не изменено.";
}

std::wstring expiredText(const std::string& expires) {
    // "YYYY-MM-DDTHH:MM:SSZ" (the manifest accepts no other form) as the date is written in Russian.
    const std::string date = expires.substr(8, 2) + "." + expires.substr(5, 2) + "." + expires.substr(0, 4);
    return L"Сведения о версии на сайте Торвел устарели " + toUtf16(date) +
           L" — установка остановлена. Проверьте дату на компьютере или повторите позже.";
}

bool acceptRelease(const RunContext& run, const Manifest& manifest) {
    const std::string installed = recordedVersionOf(readInstallRecord(run.installDir));
    const int64_t now = currentUtcSeconds();
    switch (standingOf(manifest, installed, now)) {
        case ReleaseStanding::Acceptable:
            return true;
        case ReleaseStanding::Expired:
            logLine(L"отказ от версии " + toUtf16(manifest.version) + L": сведения о ней действовали до " +
                    toUtf16(manifest.expires) + L", часы компьютера показывают " + toUtf16(utcTimeText(now)) +
                    L" (допуск " + std::to_wstring(kExpiryToleranceSeconds / 3600) + L" ч)");
            run.reportFailure(expiredText(manifest.expires));
            return false;
        case ReleaseStanding::Downgrade:
            logLine(L"отказ от версии " + toUtf16(manifest.version) + L": в " + run.installDir +
                    L" установлена более новая " + toUtf16(installed));
            run.reportFailure(downgradeText(manifest.version, installed));
            return false;
    }
    return false;
}
