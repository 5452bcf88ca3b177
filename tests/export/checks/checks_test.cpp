// Access key and XML checks: what an accountant's validator would flag.
#include "export/checks/checks.h"

#include <gtest/gtest.h>
#include <iconv.h>
#include <libxml/encoding.h>

#include <atomic>
#include <cerrno>
#include <chrono>
#include <stdexcept>
#include <thread>
#include <optional>
#include <string>
#include <vector>

using namespace exports;

namespace {

// Keys with a correct module-11 digit, worked out by hand/independently.
constexpr const char* kValid = "35240312345678000199550010000012341100000089";       // remainder 2 -> 9
constexpr const char* kRemainder0 = "35240312345678000199550010000012341100000070";  // -> 0
constexpr const char* kRemainder1 = "35240312345678000199550010000012341100000020";  // -> 0
constexpr const char* kCpfIssuer = "41240300012345678901550020000000771123456786";   // 000 + CPF

std::string replaced(std::string s, size_t pos, char c) {
    s[pos] = c;
    return s;
}

}  // namespace

TEST(AccessKey, SplitsIntoItsParts) {
    AccessKeyParts p;
    ASSERT_TRUE(splitAccessKey(kCpfIssuer, p));
    EXPECT_EQ(p.state, "41");
    EXPECT_EQ(p.yearMonth, "2403");
    EXPECT_EQ(p.issuer, "00012345678901");
    EXPECT_EQ(p.model, "55");
    EXPECT_EQ(p.series, "002");
    EXPECT_EQ(p.number, "000000077");
    EXPECT_EQ(p.emissionType, "1");
    EXPECT_EQ(p.code, "12345678");
    EXPECT_EQ(p.checkDigit, "6");
    EXPECT_FALSE(splitAccessKey(std::string(kValid).substr(1), p));
    EXPECT_FALSE(splitAccessKey(replaced(kValid, 10, 'x'), p));
}

TEST(AccessKey, CheckDigitRemaindersZeroAndOneGiveZero) {
    EXPECT_EQ(accessKeyCheckDigit(std::string(kRemainder0).substr(0, 43)), 0);
    EXPECT_EQ(accessKeyCheckDigit(std::string(kRemainder1).substr(0, 43)), 0);
    EXPECT_EQ(accessKeyCheckDigit(std::string(kValid).substr(0, 43)), 9);
    EXPECT_EQ(accessKeyCheckDigit("123"), -1);
}

TEST(AccessKey, Findings) {
    struct Case {
        std::string key;
        std::string expected;
    };
    const Case cases[] = {
        {kValid, "ok"},
        {kRemainder0, "ok"},
        {kRemainder1, "ok"},
        {kCpfIssuer, "ok"},                                      // the issuer digits are not a CNPJ, and that is legal
        {"35240312345678000199650010000012341100000073", "ok"},  // NFC-e
        {"35240312345678000199550010000012349100000076", "ok"},  // offline emission
        {replaced(kValid, 43, '8'), "chave-digito"},
        {replaced(kRemainder1, 43, '1'), "chave-digito"},  // 11 - 1 = 10 is no digit
        {replaced(kValid, 30, '7'), "chave-digito"},       // one changed digit inside
        {"00240312345678000199550010000012341100000075", "chave-uf"},
        {"35241312345678000199550010000012341100000073", "chave-mes"},
        {"35240012345678000199550010000012341100000070", "chave-mes"},
        {"35240312345678000199570010000012341100000078", "chave-modelo"},
        {"35240312345678000199550010000000001100000077", "chave-numero"},
        {"35240312345678000199550010000012348100000078", "chave-tipo-emissao"},
        {"35240312345678000199550010000012340100000072", "chave-tipo-emissao"},
        {"00241312345678000199570010000012341100000089", "chave-uf,chave-mes,chave-modelo,chave-digito"},
        {std::string(kValid).substr(0, 43), "chave-tamanho"},
        {std::string(kValid) + "0", "chave-tamanho"},
        {std::string(kValid) + " ", "chave-tamanho"},
        {"", "chave-tamanho"},
        {replaced(kValid, 0, 'A'), "chave-nao-numerica"},
        {replaced(kValid, 20, ' '), "chave-nao-numerica"},
        {replaced(kValid, 43, '/'), "chave-nao-numerica"},
    };
    for (const Case& c : cases) EXPECT_EQ(findingsText(checkAccessKey(c.key)), c.expected) << c.key;
}

namespace {

std::string documentXml(const std::string& key, const std::string& protocol, const std::string& prolog = "",
                        const std::string& body = "") {
    return prolog + "<nfeProc versao=\"4.00\" xmlns=\"http://www.portalfiscal.inf.br/nfe\"><NFe><infNFe Id=\"NFe" +
           key + "\" versao=\"4.00\">" + body + "</infNFe></NFe>" + protocol + "</nfeProc>";
}

std::string protocolFor(const std::string& key) {
    return "<protNFe versao=\"4.00\"><infProt><chNFe>" + key + "</chNFe><cStat>100</cStat></infProt></protNFe>";
}

std::string eventXml(const std::string& key) {
    return "<procEventoNFe versao=\"1.00\" xmlns=\"http://www.portalfiscal.inf.br/nfe\"><evento><infEvento>"
           "<chNFe>" +
           key +
           "</chNFe><tpEvento>110111</tpEvento></infEvento></evento><retEvento><infEvento>"
           "<chNFe>" +
           key + "</chNFe><cStat>135</cStat></infEvento></retEvento></procEventoNFe>";
}

}  // namespace

TEST(XmlCheck, Findings) {
    const std::string key = kValid;
    const std::string other = kRemainder0;
    const std::string good = documentXml(key, protocolFor(key));
    const std::string cp1252 =
        "<xProd>Pe\xE7"
        "a de reposi\xE7\xE3o \x96 a\xE7\xFA"
        "car</xProd>";
    struct Case {
        const char* what;
        std::string text;
        XmlKind kind;
        std::string expected;
    };
    const Case cases[] = {
        {"authorised document", good, XmlKind::Document, "ok"},
        {"document, either kind", good, XmlKind::Either, "ok"},
        {"with declaration and CR LF", "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\r\n" + good + "\r\n",
         XmlKind::Document, "ok"},
        {"windows-1252 bytes, declared",
         documentXml(key, protocolFor(key), "<?xml version=\"1.0\" encoding=\"windows-1252\"?>", cp1252),
         XmlKind::Document, "ok"},
        {"windows-1252 bytes, undeclared", documentXml(key, protocolFor(key), "", cp1252), XmlKind::Document,
         "xml-codificacao"},
        {"no protocol", documentXml(key, ""), XmlKind::Document, "xml-sem-protocolo"},
        {"protocol of another document", documentXml(key, protocolFor(other)), XmlKind::Document,
         "xml-chave-diferente"},
        {"infNFe of another document", documentXml(other, protocolFor(key)), XmlKind::Document, "xml-chave-diferente"},
        {"no Id", "<nfeProc><NFe><infNFe/></NFe>" + protocolFor(key) + "</nfeProc>", XmlKind::Document,
         "xml-sem-chave"},
        {"unsigned NFe only", "<NFe><infNFe Id=\"NFe" + key + "\"/></NFe>", XmlKind::Document, "xml-raiz"},
        {"truncated", good.substr(0, good.size() - 5), XmlKind::Document, "xml-malformado"},
        {"mismatched tags", "<nfeProc><NFe></nfeProc></NFe>", XmlKind::Document, "xml-malformado"},
        {"text after the root", good + "<extra/>", XmlKind::Document, "xml-malformado"},
        {"not XML at all", "NFe " + key, XmlKind::Either, "xml-malformado"},
        {"empty", "", XmlKind::Document, "xml-vazio"},
        {"only blanks", " \r\n\t", XmlKind::Document, "xml-vazio"},
        {"cancellation event", eventXml(key), XmlKind::CancellationEvent, "ok"},
        {"event, either kind", eventXml(key), XmlKind::Either, "ok"},
        {"event of another document", eventXml(other), XmlKind::CancellationEvent, "xml-chave-diferente"},
        {"event without chNFe", "<procEventoNFe><evento/></procEventoNFe>", XmlKind::CancellationEvent,
         "xml-estrutura,xml-sem-chave"},
        {"event where a document belongs", eventXml(key), XmlKind::Document, "xml-raiz"},
        {"document where the event belongs", good, XmlKind::CancellationEvent, "xml-raiz"},
        // text and markup that reach the key in other ways; NF-e never carry a DOCTYPE
        {"declared entity in the body",
         documentXml(key, protocolFor(key), "<!DOCTYPE nfeProc [<!ENTITY loja \"Pe&#231;as\">]>", "<obs>&loja;</obs>"),
         XmlKind::Document, "xml-estrutura"},
        {"undeclared entity", documentXml(key, protocolFor(key), "", "<obs>&loja;</obs>"), XmlKind::Document,
         "xml-malformado"},
        {"chNFe in CDATA, character references and a comment",
         documentXml(key, "<protNFe><infProt><chNFe><![CDATA[" + key.substr(0, 20) + "]]>&#" +
                              std::to_string(int(key[20])) + ";<!-- -->" + key.substr(21) +
                              "</chNFe></infProt></protNFe>"),
         XmlKind::Document, "ok"},
        {"prefixed names",
         "<n:nfeProc xmlns:n=\"http://www.portalfiscal.inf.br/nfe\"><n:NFe><n:infNFe Id=\"NFe" + key +
             "\"/></n:NFe><n:protNFe><n:infProt><n:chNFe>" + key + "</n:chNFe></n:infProt></n:protNFe></n:nfeProc>",
         XmlKind::Document, "ok"},
        {"undeclared prefix", "<n:nfeProc>" + good + "</n:nfeProc>", XmlKind::Either, "xml-malformado"},
        {"ISO-8859-1 bytes, declared",
         documentXml(key, protocolFor(key), "<?xml version=\"1.0\" encoding=\"ISO-8859-1\"?>",
                     "<x>Pe\xE7"
                     "a</x>"),
         XmlKind::Document, "ok"},
        {"UTF-8 byte order mark", documentXml(key, protocolFor(key), "\xEF\xBB\xBF<?xml version=\"1.0\"?>\n"),
         XmlKind::Document, "ok"},
        {"event with an empty chNFe", "<procEventoNFe><evento><chNFe/></evento></procEventoNFe>",
         XmlKind::CancellationEvent, "xml-estrutura,xml-chave-diferente"},
        // bytes the declared encoding does not have, wherever they stand
        {"windows-1252 without 0x81",
         documentXml(key, protocolFor(key), "<?xml version=\"1.0\" encoding=\"windows-1252\"?>", "<x>a\x81</x>"),
         XmlKind::Document, "xml-codificacao"},
        {"windows-1252 without 0x9D, right after the declaration",
         "<?xml version=\"1.0\" encoding=\"windows-1252\"?><!--\x9D-->" + good, XmlKind::Document, "xml-codificacao"},
        {"windows-1252 without 0x8F, after the root",
         "<?xml version=\"1.0\" encoding=\"windows-1252\"?>" + good + "<!--\x8F-->", XmlKind::Document,
         "xml-codificacao"},
        {"ISO-8859-3 without 0xA5 (converted by iconv)",
         documentXml(key, protocolFor(key), "<?xml version=\"1.0\" encoding=\"ISO-8859-3\"?>", "<x>\xA5</x>"),
         XmlKind::Document, "xml-codificacao"},
    };
    for (const Case& c : cases) EXPECT_EQ(findingsText(checkXml(c.text, key, c.kind)), c.expected) << c.what;
}

namespace {

// What glibc's iconv makes of `bytes` as windows-1252: the UTF-8 text, or
// nullopt when it refuses them.
std::optional<std::string> iconvWindows1252(const std::string& bytes) {
    iconv_t cd = iconv_open("UTF-8", "WINDOWS-1252");
    EXPECT_NE(cd, reinterpret_cast<iconv_t>(-1));
    std::string out(bytes.size() * 4, '\0');
    char* in = const_cast<char*>(bytes.data());
    size_t inLeft = bytes.size();
    char* o = out.data();
    size_t outLeft = out.size();
    const size_t done = iconv(cd, &in, &inLeft, &o, &outLeft);
    iconv_close(cd);
    if (done == static_cast<size_t>(-1)) return std::nullopt;
    out.resize(out.size() - outLeft);
    return out;
}

// Our converter over `bytes` with an output buffer of `room` bytes a call,
// as libxml2 drives it; nullopt when it refuses them.
std::optional<std::string> ourWindows1252(const std::string& bytes, int room) {
    std::string out;
    size_t at = 0;
    std::vector<unsigned char> buffer(room);
    while (at < bytes.size()) {
        int inLength = static_cast<int>(bytes.size() - at);
        int outLength = room;
        const int result = windows1252ToUtf8(buffer.data(), &outLength,
                                             reinterpret_cast<const unsigned char*>(bytes.data() + at), &inLength);
        EXPECT_LE(outLength, room);
        EXPECT_LE(inLength, static_cast<int>(bytes.size() - at));
        out.append(reinterpret_cast<const char*>(buffer.data()), outLength);
        at += inLength;
        if (result == -2) return std::nullopt;
        EXPECT_EQ(result, outLength);
        if (inLength == 0) return "no progress with room for " + std::to_string(room);
    }
    return out;
}

}  // namespace

TEST(Windows1252, DecodesEveryByteAsIconvDoes) {
    std::string defined;
    for (int b = 0; b < 256; ++b) {
        const std::string one(1, static_cast<char>(b));
        const auto expected = iconvWindows1252(one);
        EXPECT_EQ(ourWindows1252(one, 3), expected) << "byte " << b;
        if (expected) defined += one;
    }
    EXPECT_EQ(defined.size(), 256u - 5);  // 0x81, 0x8D, 0x8F, 0x90, 0x9D
    // Runs of ASCII and every letter in one text, the output cut anywhere:
    // no character is split and nothing is lost at a cut.
    std::string text;
    for (char c : defined) text += std::string("plain ascii ") + c;
    const auto expected = iconvWindows1252(text);
    ASSERT_TRUE(expected);
    for (int room : {3, 4, 5, 7, 8, 9, 16, 100, 4096})
        EXPECT_EQ(ourWindows1252(text, room), expected) << "room " << room;
    // a refused byte stops the text there, after what came before it
    const std::string refused = "ab\xE7\x90z";
    unsigned char out[16];
    int outLength = sizeof out, inLength = static_cast<int>(refused.size());
    EXPECT_EQ(windows1252ToUtf8(out, &outLength, reinterpret_cast<const unsigned char*>(refused.data()), &inLength),
              -2);
    EXPECT_EQ(inLength, 3);
    EXPECT_EQ(std::string(reinterpret_cast<char*>(out), outLength), "ab\xC3\xA7");
}

TEST(Windows1252, EveryNameDocumentsUseTakesOurConverterAndNothingReachesStderr) {
    const std::string key = kValid;
    checkXml(documentXml(key, protocolFor(key)), key, XmlKind::Document);  // the checks register it
    for (const char* name : {"windows-1252", "Windows-1252", "WINDOWS-1252", "cp1252", "CP1252", "ms-ansi"}) {
        xmlCharEncodingHandlerPtr handler = xmlFindCharEncodingHandler(name);
        ASSERT_NE(handler, nullptr) << name;
        EXPECT_EQ(handler->input, &windows1252ToUtf8) << name;
        const std::string prolog = std::string("<?xml version=\"1.0\" encoding=\"") + name + "\"?>";
        testing::internal::CaptureStderr();
        const std::string accented = findingsText(checkXml(documentXml(key, protocolFor(key), prolog,
                                                                       "<x>\x80 \x93Pe\xE7"
                                                                       "a\x94</x>"),
                                                           key, XmlKind::Document));
        const std::string refused = findingsText(checkXml(documentXml(key, protocolFor(key), prolog, "<x>\x90</x>"),
                                                          key, XmlKind::Document));
        EXPECT_EQ(testing::internal::GetCapturedStderr(), "") << name;
        EXPECT_EQ(accented, "ok") << name;
        EXPECT_EQ(refused, "xml-codificacao") << name;
    }
}

TEST(XmlCheck, StoredKeyPaddedByItsColumnStillMatches) {
    const std::string key = kValid;
    EXPECT_EQ(findingsText(checkXml(documentXml(key, protocolFor(key)), key + "  ", XmlKind::Document)), "ok");
}

TEST(XmlCheck, ExternalEntitiesAreNotFetched) {
    // A document that names a local file must not pull it in (nor fail on it).
    const std::string key = kValid;
    const std::string text = "<!DOCTYPE nfeProc [<!ENTITY x SYSTEM \"/nonexistent/secret\">]>" +
                             documentXml(key, protocolFor(key), "", "<obs>&x;</obs>");
    EXPECT_EQ(findingsText(checkXml(text, key, XmlKind::Document)), "xml-estrutura");
}

TEST(XmlCheck, NestedEntitiesThatMultiplyAreRefused) {
    // ten levels of ten references each: 10^10 copies if they were expanded
    std::string text = "<!DOCTYPE nfeProc [<!ENTITY e0 \"aaaaaaaaaa\">";
    for (int level = 1; level <= 10; ++level) {
        text += "<!ENTITY e" + std::to_string(level) + " \"";
        for (int i = 0; i < 10; ++i) text += "&e" + std::to_string(level - 1) + ";";
        text += "\">";
    }
    text += "]>" + documentXml(kValid, protocolFor(kValid), "", "<obs>&e10;</obs>");
    EXPECT_EQ(findingsText(checkXml(text, kValid, XmlKind::Document)), "xml-estrutura");
}

TEST(DocumentCheck, CountsDocumentsByWhatFailed) {
    const std::string key = kValid;
    const std::string good = documentXml(key, protocolFor(key));  // sound, but unsigned
    CheckCounts counts;
    counts.add(checkDocument(key, good, XmlKind::Document));
    counts.add(checkDocument(replaced(key, 43, '0'), good, XmlKind::Document));  // bad digit; XML key differs too
    counts.add(checkDocument(key, "<nfeProc>", XmlKind::Document));              // not XML: no signature check
    EXPECT_EQ(counts.checked, 3);
    EXPECT_EQ(counts.failed, 3);
    EXPECT_EQ(counts.badKeys, 1);
    EXPECT_EQ(counts.badXml, 2);
    EXPECT_EQ(counts.badSignatures, 2);
    // the fixture's protocol authorises (cStat 100) without the digest it authorised
    EXPECT_EQ(findingsText(checkDocument(replaced(key, 43, '0'), good, XmlKind::Document)),
              "chave-digito,xml-chave-diferente,assinatura-ausente,protocolo-digest");
}

TEST(BackgroundChecks, CountsWhatTheChecksFindWhileTheCallerGoesOn) {
    const std::string key = kValid;
    const std::string good = documentXml(key, protocolFor(key));
    const std::string badKey = replaced(key, 43, '0');
    CheckCounts expected;
    BackgroundChecks background;
    // more documents than the queue holds, so add() has to wait for the worker
    for (int i = 0; i < 500; ++i) {
        const std::string& k = i % 7 == 0 ? badKey : key;
        const std::string text = i % 5 == 0 ? good.substr(0, 40) : good;
        expected.add(checkDocument(k, text, XmlKind::Document));
        background.add(k, text, XmlKind::Document);
    }
    const CheckCounts got = background.finish();
    EXPECT_EQ(got.checked, 500);
    EXPECT_EQ(got.failed, expected.failed);
    EXPECT_EQ(got.badKeys, expected.badKeys);
    EXPECT_EQ(got.badXml, expected.badXml);
    EXPECT_EQ(got.badSignatures, expected.badSignatures);
    EXPECT_GT(got.badKeys, 0);
    EXPECT_GT(got.badXml, 0);

    BackgroundChecks abandoned;  // a run that stops early: nothing waits on it
    for (int i = 0; i < 100; ++i) abandoned.add(key, good, XmlKind::Document);
}

TEST(BackgroundChecks, SeveralThreadsCountEveryDocumentOnce) {
    const std::string key = kValid;
    const std::string good = documentXml(key, protocolFor(key));
    const std::string badKey = replaced(key, 43, '0');
    const std::string cp1252 = documentXml(key, protocolFor(key), "<?xml version=\"1.0\" encoding=\"cp1252\"?>",
                                           "<x>Pe\xE7"
                                           "a \x96 \x81</x>");
    // 0: no thread could start, the caller checks everything itself
    for (unsigned threads : {0u, 2u, 4u}) {
        CheckCounts expected;
        BackgroundChecks background(threads);
        for (int i = 0; i < 3000; ++i) {
            const std::string& k = i % 7 == 0 ? badKey : key;
            const std::string& text = i % 5 == 0 ? cp1252 : good;
            expected.add(checkDocument(k, text, XmlKind::Document));
            background.add(k, text, XmlKind::Document);
        }
        const CheckCounts got = background.finish();
        EXPECT_EQ(got.checked, 3000) << threads;
        EXPECT_EQ(got.failed, expected.failed) << threads;
        EXPECT_EQ(got.badKeys, expected.badKeys) << threads;
        EXPECT_EQ(got.badXml, expected.badXml) << threads;
        EXPECT_EQ(got.badSignatures, expected.badSignatures) << threads;
        // finish() may be asked again after more documents
        background.add(key, good, XmlKind::Document);
        EXPECT_EQ(background.finish().checked, 3001) << threads;
    }
}

TEST(BackgroundChecks, StopsWithFullQueuesAndBusyThreads) {
    const std::string key = kValid;
    const std::string good = documentXml(key, protocolFor(key), "", std::string(8000, 'x'));
    for (unsigned threads : {1u, 4u}) {
        BackgroundChecks abandoned(threads);
        for (int i = 0; i < 2000; ++i) abandoned.add(key, good, XmlKind::Document);
    }  // destroyed without finish(): must neither hang nor crash
}

namespace {

std::thread::id callerThread;
std::atomic<int> thrown{0};

// Throws on any thread but the caller's, as a check that runs out of memory
// would. The caller's first check waits until a thread has thrown, so the
// threads surely take some documents however the machine schedules them.
Findings failsOffTheCaller(std::string_view key, std::string_view text, XmlKind kind) {
    if (std::this_thread::get_id() != callerThread) {
        ++thrown;
        throw std::bad_alloc();
    }
    for (int waited = 0; thrown == 0 && waited < 10000; ++waited)
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
    return checkDocument(key, text, kind);
}

Findings alwaysFails(std::string_view, std::string_view, XmlKind) { throw std::runtime_error("check failed"); }

}  // namespace

TEST(BackgroundChecks, ADocumentWhoseCheckThrowsOnAThreadIsCheckedAgainByTheCaller) {
    const std::string key = kValid;
    const std::string good = documentXml(key, protocolFor(key));
    const std::string badKey = replaced(key, 43, '0');
    callerThread = std::this_thread::get_id();
    thrown = 0;
    CheckCounts expected;
    BackgroundChecks background(2, &failsOffTheCaller);
    ASSERT_EQ(background.threads(), 2u);
    for (int i = 0; i < 1000; ++i) {
        const std::string& k = i % 3 == 0 ? badKey : key;
        expected.add(checkDocument(k, good, XmlKind::Document));
        background.add(k, good, XmlKind::Document);
    }
    const CheckCounts got = background.finish();
    EXPECT_GT(thrown.load(), 0);  // the threads did take documents
    EXPECT_EQ(got.checked, 1000);
    EXPECT_EQ(got.failed, expected.failed);
    EXPECT_EQ(got.badKeys, expected.badKeys);
    EXPECT_EQ(got.badSignatures, expected.badSignatures);
}

TEST(BackgroundChecks, ACheckThatThrowsEverywhereReachesTheCaller) {
    const std::string key = kValid;
    const std::string good = documentXml(key, protocolFor(key));
    for (unsigned threads : {0u, 2u}) {
        BackgroundChecks background(threads, &alwaysFails);
        // never a silent count short of the documents added: add() or finish() throws
        EXPECT_ANY_THROW({
            for (int i = 0; i < 500; ++i) background.add(key, good, XmlKind::Document);
            background.finish();
        }) << threads;
    }
}

// The unattended run's watchdog takes a check that ends, on any thread, for
// progress: the count moves while the caller has not asked for the results.
TEST(BackgroundChecks, EachEndedCheckIsCountedAsItEnds) {
    const std::string key = kValid;
    const std::string good = documentXml(key, protocolFor(key));
    const unsigned long long before = documentsChecked();
    BackgroundChecks background(1);
    for (int i = 0; i < 64; ++i)  // two batches: both go to the thread
        background.add(key, good, XmlKind::Document);
    for (int waited = 0; documentsChecked() < before + 64 && waited < 60000; ++waited)
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
    EXPECT_GE(documentsChecked(), before + 64) << "not counted before finish()";
    EXPECT_EQ(background.finish().checked, 64);
    EXPECT_GE(documentsChecked(), before + 64);
}
