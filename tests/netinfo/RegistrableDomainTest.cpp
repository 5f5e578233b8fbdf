#include "RegistrableDomain.h"

#include <gtest/gtest.h>

#include <string>

namespace tavrin {
namespace {

struct DomainCase {
    const char* host;
    const char* domain;
};

void expectDomains(std::initializer_list<DomainCase> cases) {
    for (const DomainCase& c : cases)
        EXPECT_EQ(registrableDomain(c.host), c.domain) << "host: " << c.host;
}

TEST(RegistrableDomain, GenericAndCountryTopLevelDomains) {
    expectDomains({
        {"mail.example.com", "example.com"},
        {"a.b.c.example.org", "example.org"},
        {"www.example.museum", "example.museum"},
        {"host.example.co.jp", "example.co.jp"},
        {"a.b.example.jp", "example.jp"},
        {"www.example.ne.jp", "example.ne.jp"},
        {"www.city.lg.jp", "city.lg.jp"},
        {"mail.example.co.uk", "example.co.uk"},
        {"a.b.example.de", "b.example.de"},
        {"host.example.de", "host.example.de"},
        {"example.co.jp", "example.co.jp"}, // three labels under a country code
    });
}

TEST(RegistrableDomain, NamesThatGiveNoDomain) {
    expectDomains({
        {"", ""},
        {"localhost", ""},
        {"example.com", ""}, // two labels
        {"192.168.0.1", ""},
        {"10.0.1.0", ""}, // an address whose last label is 0 is still an address
        {"10.0.1.00", ""},
        {"host.example.1st", ""}, // a top-level label that reads as a number
        {".", ""},
        {"..", ""},
        {"a..example.com", ""}, // empty labels make no host name
        {".example.com", ""},
        {"example.com..", ""},
    });
}

TEST(RegistrableDomain, CaseIsIgnoredAndKept) {
    expectDomains({
        {"MAIL.EXAMPLE.CO.JP", "EXAMPLE.CO.JP"},
        {"Mail.Example.Com", "Example.Com"},
        {"a.B.Example.JP", "Example.JP"},
        {"x.example.Co.Jp", "example.Co.Jp"},
    });
}

TEST(RegistrableDomain, AbsoluteNamesAndMultiByteLabels) {
    expectDomains({
        {"www.example.com.", "example.com"},
        {"host.example.co.jp.", "example.co.jp"},
        // Labels in UTF-8 pass through whole; only ASCII letters fold.
        {"メール.例え.co.jp", "例え.co.jp"},
        {"www.例え.jp", "www.例え.jp"},
        {"a.b.例え.jp", "例え.jp"},
        {"サーバ.例え.テスト", "サーバ.例え.テスト"},
    });
}

} // namespace
} // namespace tavrin
