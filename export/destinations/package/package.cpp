#include "export/destinations/package/package.h"

#include "export/core/organize.h"
#include "export/core/rules.h"
#include "platform/codepage.h"

#include <openssl/evp.h>
#include <zip.h>

#include <algorithm>
#include <cctype>
#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <deque>
#include <dirent.h>
#include <ctime>
#include <fcntl.h>
#include <random>
#include <signal.h>
#include <span>
#include <sys/stat.h>
#include <unistd.h>

namespace exports {
namespace {

void appendRow(std::string& csv, const std::vector<std::string>& fields) {
    bool first = true;
    for (const auto& f : fields) {
        if (!first) csv += ';';
        csv += csvCell(f);
        first = false;
    }
    csv += "\r\n";
}

// "000001234" -> "1234"; "000" -> "0".
std::string withoutLeadingZeros(std::string_view digits) {
    const size_t first = digits.find_first_not_of('0');
    return first == digits.npos ? std::string("0") : std::string(digits.substr(first));
}

std::uint64_t toNumber(std::string_view digits) {
    std::uint64_t n = 0;
    for (char c : digits) n = n * 10 + std::uint64_t(c - '0');
    return n;
}

void syncPath(const std::string& path, int flags) {
    const int fd = ::open(path.c_str(), flags | O_CLOEXEC);
    if (fd < 0) throw PackageError("Não foi possível abrir \"" + path + "\": " + std::strerror(errno));
    const int rc = ::fsync(fd);
    const int err = errno;
    ::close(fd);
    if (rc != 0 && err != EINVAL)  // some file systems cannot sync a folder
        throw PackageError("Não foi possível gravar \"" + path + "\" no disco: " + std::strerror(err));
}

// "AAAA-MM-DD" or "AAAA-MM-DDTHH:MM:SS…" at `at`: the wall clock it names.
bool readMoment(std::string_view text, std::tm& out) {
    auto digits = [&](size_t from, size_t count, int& value) {
        if (from + count > text.size()) return false;
        value = 0;
        for (size_t i = from; i < from + count; ++i) {
            if (text[i] < '0' || text[i] > '9') return false;
            value = value * 10 + (text[i] - '0');
        }
        return true;
    };
    int year, month, day, hour = 0, minute = 0, second = 0;
    if (!digits(0, 4, year) || text.size() < 10 || text[4] != '-' || !digits(5, 2, month) || text[7] != '-' ||
        !digits(8, 2, day))
        return false;
    if (text.size() >= 19 && text[10] == 'T' &&
        !(digits(11, 2, hour) && text[13] == ':' && digits(14, 2, minute) && text[16] == ':' && digits(17, 2, second)))
        return false;
    if (month < 1 || month > 12 || day < 1 || day > 31 || hour > 23 || minute > 59 || second > 59) return false;
    // a zip's time holds 1980 to 2107
    year = std::clamp(year, 1980, 2107);
    out = {};
    out.tm_year = year - 1900;
    out.tm_mon = month - 1;
    out.tm_mday = day;
    out.tm_hour = hour;
    out.tm_min = minute;
    out.tm_sec = second;
    out.tm_isdst = -1;
    return true;
}

// libzip turns a time into the zip's local date and time with localtime():
// mktime() of the wall clock gives that wall clock back in any time zone.
std::time_t zipTime(std::tm wall) { return std::mktime(&wall); }

// The text of the first <tag> in the document, up to its end.
std::string_view elementText(std::string_view text, std::string_view tag) {
    const std::string open = "<" + std::string(tag) + ">";
    const size_t at = text.find(open);
    if (at == text.npos) return {};
    const size_t from = at + open.size();
    const size_t end = text.find('<', from);
    return text.substr(from, end == text.npos ? text.npos : end - from);
}

// A member's time comes from the document itself, never from the run, so an
// unchanged month gives the same archive byte for byte: the authorisation
// (or the event's registration), else the issue, else the manifest's issue
// date, else the month's first day.
std::time_t memberTime(const PackageDocument& doc, const std::tm& monthStart) {
    static constexpr std::string_view documentTags[] = {"dhRecbto", "dhEmi", "dEmi"};
    static constexpr std::string_view eventTags[] = {"dhRegEvento", "dhEvento"};
    std::tm wall;
    for (std::string_view tag : doc.cancellation ? std::span<const std::string_view>(eventTags)
                                                 : std::span<const std::string_view>(documentTags))
        if (readMoment(elementText(doc.text, tag), wall)) return zipTime(wall);
    if (readMoment(doc.issueDate, wall)) return zipTime(wall);
    return zipTime(monthStart);
}

const char* const kManifestHeader[] = {"arquivo", "chave", "emitente",  "modelo", "serie",      "numero",
                                       "emissao", "tipo",  "cancelada", "sha256", "verificacao"};

}  // namespace

// A spreadsheet evaluates a cell starting with one of these (a formula, or a
// tab or line break before one): such a cell gets an apostrophe in front, which
// the spreadsheet shows as text and the eye reads past.
namespace {

bool evaluatedBySpreadsheet(const std::string& cell) {
    return !cell.empty() && std::string_view("=+-@\t\r\n").find(cell.front()) != std::string_view::npos;
}

}  // namespace

std::string csvCell(const std::string& utf8) {
    const std::string cell = evaluatedBySpreadsheet(utf8) ? "'" + utf8 : utf8;
    if (cell.find_first_of(";\"\r\n") == std::string::npos) return cell;
    std::string out = "\"";
    for (char c : cell) {
        if (c == '"') out += '"';
        out += c;
    }
    return out + '"';
}

std::string packageFileName(std::string_view yearMonth) { return "NFe-" + std::string(yearMonth) + ".zip"; }

namespace {

// The temporary's name: the archive's, hidden, then a marker and the process
// that writes it, so the clean-up recognises its own and nothing else.
constexpr std::string_view kTemporaryMarker = "parcial-";

std::string temporaryPrefix(std::string_view yearMonth) {
    return "." + packageFileName(yearMonth) + "." + std::string(kTemporaryMarker);
}

// The process that wrote a temporary named prefix + "<pid>-<6 letters>", or 0
// when the name is not one of ours.
pid_t temporaryWriter(std::string_view name, std::string_view prefix) {
    if (name.substr(0, prefix.size()) != prefix) return 0;
    name.remove_prefix(prefix.size());
    const size_t dash = name.find('-');
    if (dash == 0 || dash == name.npos || dash > 9 || name.size() != dash + 7) return 0;
    long pid = 0;
    for (size_t i = 0; i < dash; ++i) {
        if (name[i] < '0' || name[i] > '9') return 0;
        pid = pid * 10 + (name[i] - '0');
    }
    for (char c : name.substr(dash + 1))
        if (!std::isalnum(static_cast<unsigned char>(c))) return 0;
    return pid_t(pid);
}

// An earlier archive that cannot be written is the user's to keep: the run
// fails saying so instead of replacing it.
void checkReplaceable(const std::string& path) {
    struct stat st {};
    if (::lstat(path.c_str(), &st) != 0 || !S_ISREG(st.st_mode)) return;
    if ((st.st_mode & (S_IWUSR | S_IWGRP | S_IWOTH)) == 0)
        throw PackageError("Não foi possível gravar em \"" + path +
                           "\": o arquivo é somente leitura (o pacote anterior foi mantido)");
    if (::access(path.c_str(), W_OK) != 0)
        throw PackageError("Não foi possível gravar em \"" + path + "\": " + std::strerror(errno) +
                           " (o pacote anterior foi mantido)");
}

}  // namespace

void removeLeftoverPackages(const std::string& folder, std::string_view yearMonth) {
    const std::string prefix = temporaryPrefix(yearMonth);
    DIR* dir = ::opendir(folder.empty() ? "." : folder.c_str());
    if (!dir) return;  // the archive's own creation reports a folder that cannot be used
    while (const dirent* entry = ::readdir(dir)) {
        const pid_t writer = temporaryWriter(entry->d_name, prefix);
        if (writer <= 0) continue;
        // Another run's temporary stays while that run lives.
        if (writer != ::getpid() && (::kill(writer, 0) == 0 || errno != ESRCH)) continue;
        // Only a file: never what a link leads to, nor a pipe or a folder.
        struct stat st {};
        if (::fstatat(::dirfd(dir), entry->d_name, &st, AT_SYMLINK_NOFOLLOW) == 0 && S_ISREG(st.st_mode))
            ::unlinkat(::dirfd(dir), entry->d_name, 0);
    }
    ::closedir(dir);
}

std::string memberName(const PackageDocument& doc) {
    // UTF-8, as the manifest lists it and as the exports name the file
    return std::string(kindFolder(doc.documentType)) + '/' +
           platform::ansiToUtf8(documentFileName(doc.accessKey, doc.cancellation));
}

std::string sha256Hex(std::string_view bytes) {
    unsigned char digest[EVP_MAX_MD_SIZE];
    unsigned int size = 0;
    if (EVP_Digest(bytes.data(), bytes.size(), digest, &size, EVP_sha256(), nullptr) != 1)
        throw PackageError("SHA-256 indisponível");
    static constexpr char hex[] = "0123456789abcdef";
    std::string out;
    out.reserve(size * 2);
    for (unsigned int i = 0; i < size; ++i) {
        out += hex[digest[i] >> 4];
        out += hex[digest[i] & 15];
    }
    return out;
}

void NumberingGaps::add(std::string_view accessKey, std::string_view documentType) {
    AccessKeyParts p;
    if (kindFolder(documentType) != "Emitidas" || !splitAccessKey(accessKey, p)) return;
    numbers_[{std::string(p.issuer), std::string(p.model), std::string(p.series)}].push_back(toNumber(p.number));
}

std::vector<NumberGap> NumberingGaps::gaps() const {
    std::vector<NumberGap> out;
    for (const auto& [series, list] : numbers_) {
        std::vector<std::uint64_t> sorted = list;
        std::sort(sorted.begin(), sorted.end());
        for (size_t i = 1; i < sorted.size(); ++i)
            if (sorted[i] > sorted[i - 1] + 1)
                out.push_back({std::get<0>(series), std::get<1>(series), std::get<2>(series), sorted[i - 1] + 1,
                               sorted[i] - 1});
    }
    return out;
}

struct PackageWriter::Impl {
    std::string folder;
    std::string yearMonth;
    std::string finalPath;
    std::string tempPath;
    zip_t* archive = nullptr;
    std::size_t pending = 0;  // raw bytes handed to libzip since the last flush
    // manifest rows by member name, in the order the members were first
    // added: the columns, and where their findings will be
    std::vector<std::string> order;
    std::map<std::string, std::pair<std::vector<std::string>, std::size_t>> rows;
    // The checks run on another core while this one compresses; each
    // document's findings land in its place here (a deque: places never move).
    std::deque<Findings> findings;
    std::unique_ptr<BackgroundChecks> checks;
    NumberingGaps gaps;
    std::tm monthStart{};
    bool committed = false;
};

PackageWriter::PackageWriter(std::string folder, std::string yearMonth) : impl_(std::make_unique<Impl>()) {
    impl_->folder = folder.empty() ? std::string(".") : folder;
    if (impl_->folder.back() != '/') impl_->folder += '/';
    impl_->yearMonth = std::move(yearMonth);
    impl_->finalPath = impl_->folder + packageFileName(impl_->yearMonth);
    checkReplaceable(impl_->finalPath);
    // the lists' time: the month's first day
    std::tm monthStart;
    if (!readMoment(impl_->yearMonth + "-01", monthStart))
        throw PackageError("Mês inválido \"" + impl_->yearMonth + "\"");
    impl_->monthStart = monthStart;
    // A hidden name beside the final one: the rename that publishes the
    // archive stays inside one file system. Created with the usual 0666 less
    // umask (libzip keeps the mode it finds), not mkstemp's 0600.
    std::string pattern;
    int fd = -1;
    std::random_device random;
    for (int attempt = 0; fd < 0 && attempt < 100; ++attempt) {
        static constexpr char letters[] = "abcdefghijklmnopqrstuvwxyzABCDEFGHIJKLMNOPQRSTUVWXYZ0123456789";
        std::string suffix;
        for (int i = 0; i < 6; ++i) suffix += letters[random() % (sizeof letters - 1)];
        pattern = impl_->folder + temporaryPrefix(impl_->yearMonth) + std::to_string(::getpid()) + "-" + suffix;
        fd = ::open(pattern.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0666);
        if (fd < 0 && errno != EEXIST) break;
    }
    if (fd < 0)
        throw PackageError("Não foi possível criar o pacote em \"" + impl_->folder + "\": " + std::strerror(errno));
    ::close(fd);
    impl_->tempPath = pattern;
    openArchive(true);
    impl_->checks = std::make_unique<BackgroundChecks>();
}

PackageWriter::~PackageWriter() {
    if (!impl_->committed) discard();
}

void PackageWriter::openArchive(bool truncate) {
    int error = 0;
    impl_->archive = zip_open(impl_->tempPath.c_str(), truncate ? ZIP_CREATE | ZIP_TRUNCATE : 0, &error);
    if (!impl_->archive) {
        zip_error_t ze;
        zip_error_init_with_code(&ze, error);
        const std::string why = zip_error_strerror(&ze);
        zip_error_fini(&ze);
        discard();
        throw PackageError("Não foi possível criar o pacote \"" + impl_->finalPath + "\": " + why);
    }
}

void PackageWriter::discard() noexcept {
    if (impl_->archive) {
        zip_discard(impl_->archive);
        impl_->archive = nullptr;
    }
    if (!impl_->tempPath.empty()) ::unlink(impl_->tempPath.c_str());
}

void PackageWriter::fail(const std::string& what) {
    std::string why = impl_->archive ? zip_strerror(impl_->archive) : "";
    discard();
    throw PackageError("Não foi possível gravar o pacote \"" + impl_->finalPath + "\": " + what +
                       (why.empty() ? "" : ": " + why));
}

// libzip writes the whole archive when it is closed; closing and reopening
// after a batch keeps only one batch of texts in memory (members already
// written are copied as they are, not compressed again).
void PackageWriter::flush() {
    if (zip_close(impl_->archive) != 0) fail("ao fechar");
    impl_->archive = nullptr;
    impl_->pending = 0;
    openArchive(false);
}

void PackageWriter::add(const PackageDocument& doc) {
    if (!impl_->archive || impl_->committed) throw PackageError("Pacote já encerrado");
    // "Emitidas/NFe../../x.XML" would be unpacked outside the folder it is
    // unpacked into; unzip tools on Windows split at a backslash too.
    if (doc.accessKey.find_first_of(std::string_view("/\\\0", 3)) != std::string::npos)
        fail("chave de acesso com separador de pasta: \"" + platform::ansiToUtf8(doc.accessKey) + "\"");
    const std::string name = memberName(doc);

    const std::size_t size = doc.text.size() + 2;
    char* bytes = static_cast<char*>(std::malloc(size));
    if (!bytes) fail("memória insuficiente");
    std::memcpy(bytes, doc.text.data(), doc.text.size());
    bytes[size - 2] = '\r';
    bytes[size - 1] = '\n';
    const std::string digest = sha256Hex(std::string_view(bytes, size));

    zip_source_t* source = zip_source_buffer(impl_->archive, bytes, size, 1);
    if (!source) {
        std::free(bytes);
        fail(name);
    }
    const zip_int64_t index = zip_file_add(impl_->archive, name.c_str(), source, ZIP_FL_OVERWRITE | ZIP_FL_ENC_UTF_8);
    if (index < 0) {
        zip_source_free(source);
        fail(name);
    }
    // the level `zip` uses by default: libzip's own is the slowest
    if (zip_set_file_compression(impl_->archive, zip_uint64_t(index), ZIP_CM_DEFLATE, 6) != 0 ||
        zip_file_set_mtime(impl_->archive, zip_uint64_t(index), memberTime(doc, impl_->monthStart), 0) != 0)
        fail(name);

    Findings& findings = impl_->findings.emplace_back();
    impl_->checks->add(doc.accessKey, doc.text, doc.cancellation ? XmlKind::CancellationEvent : XmlKind::Document,
                       &findings);

    AccessKeyParts parts;
    const bool keyOk = splitAccessKey(doc.accessKey, parts);
    std::vector<std::string> columns = {name,
                                        platform::ansiToUtf8(doc.accessKey),
                                        keyOk ? std::string(parts.issuer) : std::string(),
                                        keyOk ? std::string(parts.model) : std::string(),
                                        keyOk ? withoutLeadingZeros(parts.series) : std::string(),
                                        keyOk ? withoutLeadingZeros(parts.number) : std::string(),
                                        platform::ansiToUtf8(doc.issueDate),
                                        std::string(kindFolder(doc.documentType)),
                                        doc.cancellation ? "sim" : "nao",
                                        digest};
    auto [it, added] = impl_->rows.try_emplace(name);
    if (added) impl_->order.push_back(name);
    it->second = {std::move(columns), impl_->findings.size() - 1};
    impl_->gaps.add(doc.accessKey, doc.documentType);

    impl_->pending += size;
    if (impl_->pending >= flushThreshold_) flush();
}

PackageResult PackageWriter::commit() {
    if (!impl_->archive || impl_->committed) throw PackageError("Pacote já encerrado");
    PackageResult result;

    impl_->checks->finish();  // every document's findings are in place now
    impl_->checks.reset();
    std::string manifest;
    appendRow(manifest, std::vector<std::string>(std::begin(kManifestHeader), std::end(kManifestHeader)));
    for (const auto& name : impl_->order) {
        auto& [columns, place] = impl_->rows.at(name);
        const Findings& findings = impl_->findings[place];
        columns.push_back(findingsText(findings));
        appendRow(manifest, columns);
        result.checks.add(findings);
    }
    result.documents = long(impl_->order.size());

    std::string gaps;
    appendRow(gaps, {"emitente", "modelo", "serie", "primeiro_ausente", "ultimo_ausente", "quantidade"});
    for (const NumberGap& g : impl_->gaps.gaps()) {
        appendRow(gaps, {g.issuer, g.model, withoutLeadingZeros(g.series), std::to_string(g.from), std::to_string(g.to),
                         std::to_string(g.to - g.from + 1)});
        ++result.gapRanges;
        result.missingNumbers += g.to - g.from + 1;
    }

    for (const auto& [name, text] : {std::pair<const char*, std::string*>{"manifesto.csv", &manifest},
                                     std::pair<const char*, std::string*>{"lacunas.csv", &gaps}}) {
        zip_source_t* source = zip_source_buffer(impl_->archive, text->data(), text->size(), 0);
        if (!source) fail(name);
        const zip_int64_t index = zip_file_add(impl_->archive, name, source, ZIP_FL_OVERWRITE | ZIP_FL_ENC_UTF_8);
        if (index < 0) {
            zip_source_free(source);
            fail(name);
        }
        if (zip_set_file_compression(impl_->archive, zip_uint64_t(index), ZIP_CM_DEFLATE, 6) != 0 ||
            zip_file_set_mtime(impl_->archive, zip_uint64_t(index), zipTime(impl_->monthStart), 0) != 0)
            fail(name);
    }
    if (zip_close(impl_->archive) != 0) fail("ao fechar");
    impl_->archive = nullptr;

    try {
        syncPath(impl_->tempPath, O_RDONLY);
        // made read-only while the run went on: still kept
        checkReplaceable(impl_->finalPath);
        if (::rename(impl_->tempPath.c_str(), impl_->finalPath.c_str()) != 0)
            throw PackageError("Não foi possível dar o nome \"" + impl_->finalPath +
                               "\" ao pacote: " + std::strerror(errno));
        impl_->committed = true;
        const std::string folder = folderOf(impl_->finalPath);
        syncPath(folder.empty() ? "." : folder, O_RDONLY | O_DIRECTORY);
    } catch (...) {
        if (!impl_->committed) discard();
        throw;
    }
    result.path = impl_->finalPath;
    return result;
}

}  // namespace exports
