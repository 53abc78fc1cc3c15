// The languages benchmark: writeFile and readFile through the VM, as an app calls them, for every
// text of a corpus directory (the Wikipedia article "Mars" in 18 languages), each also repeated to
// 1 MiB and as three 1 MiB texts of its lines shuffled, saved and read in turn (text the CPU has
// not learned), and two texts of one width (the English text's ASCII characters, the Chinese
// text's three-byte characters, each repeated to 1 MiB). One build of the library or several side
// by side (--lib NAME=PATH, e.g. an older commit's and this one's): NativeLoader's natives are
// bound to each library's in turn with RegisterNatives, so every build runs in the same VM, the
// same run and on the same files. On HotSpot the pure-Java store (bench/java's JavaStore) runs
// beside them; ART (kiv_lang_bench_art) interprets Java, so there only native code is timed, and a
// save is timed both ways the library can take there: a text whose first 128 characters are ASCII
// goes through ART's own GetStringUTFChars, any other through the library's encoder. Each text is
// given both ways by rotating it (the same characters, starting at a run of ASCII or at a wider
// character).
//
// Speed is stored bytes per second (the saved file's length), MB/s (10^6). The run is a number of
// passes over all cells, in each a number of rounds in which every variant takes one sample (one
// call) in an order that rotates, so that load from elsewhere falls on all alike. A pass's figure
// is its fastest call; the table gives the median of the passes' figures (or, --all-samples, the
// median of all calls: on a machine shared with other work, most calls can be stretched by the
// scheduler, and that median then measures the load more than the code).
// Files are on tmpfs. Before anything is timed every build's stored files are compared with the
// first build's, byte for byte, and every read gives back the text; the program stops if not.
// Prints Markdown. See bench/README.md.

#include <dirent.h>
#include <dlfcn.h>
#include <jni.h>
#include <sys/statfs.h>
#include <sys/utsname.h>
#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <fstream>
#include <random>
#include <sstream>
#include <string>
#include <vector>

#include "tests/jvm/vm.h"

namespace {

#ifdef KIV_ART_BOOT_CLASSPATH
constexpr bool kArt = true;
constexpr char kVm[] = "ART";
#else
constexpr bool kArt = false;
constexpr char kVm[] = "HotSpot";
#endif

constexpr std::size_t kMiB = std::size_t{1} << 20;
constexpr std::size_t kProbe = 128;  // the characters the library looks at on ART

JNIEnv* env = nullptr;

[[noreturn]] void fail(const std::string& why) {
    std::fprintf(stderr, "kiv_lang_bench: %s\n", why.c_str());
    if (env != nullptr && env->ExceptionCheck()) env->ExceptionDescribe();
    std::exit(1);
}

double now_ns() {
    timespec t{};
    clock_gettime(CLOCK_MONOTONIC, &t);
    return static_cast<double>(t.tv_sec) * 1e9 + static_cast<double>(t.tv_nsec);
}

// --- texts ---

struct Text {
    std::string name;
    std::u16string units;
    std::vector<std::u16string> more;  // other texts of the kind, saved and read in turn
};

// UTF-16 of valid UTF-8 (the corpus files).
std::u16string utf16_of(const std::string& s) {
    std::u16string u;
    for (std::size_t i = 0; i < s.size();) {
        const auto b = static_cast<unsigned char>(s[i]);
        const int len = b < 0x80 ? 1 : b < 0xE0 ? 2 : b < 0xF0 ? 3 : 4;
        char32_t c = len == 1 ? b : len == 2 ? b & 0x1F : len == 3 ? b & 0x0F : b & 0x07;
        for (int k = 1; k < len; ++k) c = (c << 6) | (static_cast<unsigned char>(s[i + k]) & 0x3F);
        if (c > 0xFFFF) {
            u.push_back(static_cast<char16_t>(0xD7C0 + (c >> 10)));
            u.push_back(static_cast<char16_t>(0xDC00 | (c & 0x3FF)));
        } else {
            u.push_back(static_cast<char16_t>(c));
        }
        i += static_cast<std::size_t>(len);
    }
    return u;
}

bool is_high(char16_t c) { return c >= 0xD800 && c <= 0xDBFF; }

// Characters of units (a surrogate pair as one) as UTF-8 sizes, for cutting at a boundary.
std::size_t utf8_size_at(const std::u16string& u, std::size_t i) {
    const char16_t c = u[i];
    return c < 0x80 ? 1 : c < 0x800 ? 2 : is_high(c) ? 4 : 3;
}

// The text repeated until its UTF-8 form is as large as it can be without exceeding limit.
std::u16string repeated(const std::u16string& u, std::size_t limit) {
    std::u16string out;
    std::size_t bytes = 0;
    for (std::size_t i = 0; !u.empty();) {
        const std::size_t n = utf8_size_at(u, i), width = n == 4 ? 2 : 1;
        if (bytes + n > limit) break;
        bytes += n;
        out.append(u, i, width);
        i += width;
        if (i >= u.size()) i = 0;
    }
    return out;
}

std::u16string filtered(const std::u16string& u, bool (*keep)(char16_t)) {
    std::u16string out;
    for (char16_t c : u) {
        if (keep(c)) out.push_back(c);
    }
    return out;
}

// The text's lines in an order shuffled anew at every round, until its UTF-8 form is as large as
// it can be without exceeding limit: text no CPU has seen before, as an app's text is. (A text
// saved again and again, or one repeated within itself, lets the CPU learn the order in which its
// characters change width, and flatters code that tests their widths.)
std::u16string shuffled(const std::u16string& u, std::size_t limit, std::mt19937& rng) {
    std::vector<std::u16string> lines;
    for (std::size_t at = 0; at < u.size();) {
        const std::size_t end = std::min(u.find(u'\n', at), u.size() - 1) + 1;
        lines.push_back(u.substr(at, end - at));
        at = end;
    }
    std::u16string all;
    while (all.size() <= limit && !lines.empty()) {  // a unit takes a byte or more
        std::shuffle(lines.begin(), lines.end(), rng);
        for (const std::u16string& line : lines) all += line;
    }
    return repeated(all, limit);
}

bool ascii(char16_t c) { return c != 0 && c < 0x80; }
bool three_byte(char16_t c) { return c >= 0x800 && (c < 0xD800 || c > 0xDFFF); }

std::size_t first_ascii_run(const std::u16string& u) {
    std::size_t run = 0;
    for (std::size_t i = 0; i < u.size(); ++i) {
        run = ascii(u[i]) ? run + 1 : 0;
        if (run == kProbe) return i + 1 - kProbe;
    }
    return std::u16string::npos;
}

std::size_t first_wide(const std::u16string& u) {
    for (std::size_t i = 0; i < u.size(); ++i) {
        if (!ascii(u[i])) return i;
    }
    return std::u16string::npos;
}

std::u16string rotated(const std::u16string& u, std::size_t at) {
    return u.substr(at) + u.substr(0, at);
}

std::string display_name(std::string stem) {
    if (stem == "persan") stem = "persian";
    if (!stem.empty()) stem[0] = static_cast<char>(stem[0] - 'a' + 'A');
    return stem;
}

std::vector<Text> load_texts(const std::string& dir) {
    std::vector<std::string> files;
    DIR* d = opendir(dir.c_str());
    if (d == nullptr) fail("cannot open the corpus directory " + dir);
    while (dirent* e = readdir(d)) {
        const std::string name = e->d_name;
        const std::string suffix = ".utf8.txt";
        if (name.size() > suffix.size() &&
            name.compare(name.size() - suffix.size(), suffix.size(), suffix) == 0) {
            files.push_back(name);
        }
    }
    closedir(d);
    std::sort(files.begin(), files.end());
    if (files.empty()) fail("no *.utf8.txt in " + dir);
    std::vector<Text> texts;
    std::u16string english, chinese;
    for (const std::string& f : files) {
        std::ifstream in(dir + "/" + f, std::ios::binary);
        std::stringstream ss;
        ss << in.rdbuf();
        const std::string stem = f.substr(0, f.find('.'));
        Text t{display_name(stem), utf16_of(ss.str()), {}};
        if (stem == "english") english = t.units;
        if (stem == "chinese") chinese = t.units;
        texts.push_back(std::move(t));
    }
    const std::size_t n = texts.size();
    for (std::size_t i = 0; i < n; ++i) {
        texts.push_back({texts[i].name + " 1 MiB", repeated(texts[i].units, kMiB), {}});
    }
    // Three such texts a language, 3 MiB saved in turn: more than the CPU learns (bench/README.md).
    std::mt19937 rng(1);
    for (std::size_t i = 0; i < n; ++i) {
        Text t{texts[i].name + " 1 MiB shuffled", shuffled(texts[i].units, kMiB, rng), {}};
        for (int k = 0; k < 2; ++k) t.more.push_back(shuffled(texts[i].units, kMiB, rng));
        texts.push_back(std::move(t));
    }
    if (!english.empty())
        texts.push_back({"ASCII 1 MiB", repeated(filtered(english, ascii), kMiB), {}});
    if (!chinese.empty()) {
        texts.push_back({"CJK 1 MiB", repeated(filtered(chinese, three_byte), kMiB), {}});
    }
    return texts;
}

// --- the VM side ---

struct Lib {
    std::string name;
    std::string path;
    void* write = nullptr;
    void* read = nullptr;
};

jclass loader_class = nullptr;  // NativeLoader
jclass model_class = nullptr;   // JniModel
jclass store_class = nullptr;   // JavaStore (HotSpot)
jclass paths_class = nullptr;   // java.nio.file.Paths (HotSpot)
jmethodID write_id, read_id, java_write_id, java_read_id, paths_get_id;
jfieldID code_id, msg_id;
const Lib* bound = nullptr;

jclass global_class(const char* name) {
    jclass local = env->FindClass(name);
    if (local == nullptr) fail(std::string("class not found: ") + name);
    auto global = static_cast<jclass>(env->NewGlobalRef(local));
    env->DeleteLocalRef(local);
    return global;
}

void bind(const Lib& lib) {
    if (bound == &lib) return;
    JNINativeMethod methods[] = {
        {const_cast<char*>("writeFile"),
         const_cast<char*>(
             "(Lcom/zelk/kiv/jni/JniModel;Ljava/lang/String;Ljava/lang/String;)Lcom/zelk/kiv/jni/"
             "JniModel;"),
         lib.write},
        {const_cast<char*>("readFile"),
         const_cast<char*>("(Lcom/zelk/kiv/jni/JniModel;Ljava/lang/String;)Lcom/zelk/kiv/jni/"
                           "JniModel;"),
         lib.read},
    };
    if (env->RegisterNatives(loader_class, methods, 2) != JNI_OK) fail("RegisterNatives failed");
    bound = &lib;
}

void open_lib(Lib& lib) {
    void* handle = dlopen(lib.path.c_str(), RTLD_NOW | RTLD_LOCAL);
    if (handle == nullptr) fail(std::string("dlopen: ") + dlerror());
    lib.write = dlsym(handle, "Java_com_zelk_kiv_jni_NativeLoader_writeFile");
    lib.read = dlsym(handle, "Java_com_zelk_kiv_jni_NativeLoader_readFile");
    if (lib.write == nullptr || lib.read == nullptr) fail(lib.path + " lacks the natives");
}

jobject global(jobject local) {
    jobject g = env->NewGlobalRef(local);
    env->DeleteLocalRef(local);
    return g;
}

jstring new_string(const std::u16string& u) {
    return static_cast<jstring>(global(
        env->NewString(reinterpret_cast<const jchar*>(u.data()), static_cast<jsize>(u.size()))));
}

std::u16string units_of(jstring s) {
    std::u16string u(static_cast<std::size_t>(env->GetStringLength(s)), u'\0');
    env->GetStringRegion(s, 0, static_cast<jsize>(u.size()), reinterpret_cast<jchar*>(&u[0]));
    return u;
}

jobject path_object(const std::string& path) {
    jstring s = env->NewStringUTF(path.c_str());
    jclass string_class = env->FindClass("java/lang/String");
    jobjectArray more = env->NewObjectArray(0, string_class, nullptr);
    jobject p = env->CallStaticObjectMethod(paths_class, paths_get_id, s, more);
    if (p == nullptr) fail("Paths.get failed");
    env->DeleteLocalRef(s);
    env->DeleteLocalRef(more);
    env->DeleteLocalRef(string_class);
    return global(p);
}

// One text of a variant, saved to or read from its file.
struct Take {
    jstring content;    // saves
    jstring path;       // native
    jobject java_path;  // Java
    std::string file;
};

// One thing timed: a save or a read, by one build (lib) or by the Java store (lib == nullptr),
// of its texts in turn.
struct Variant {
    std::string label;
    const Lib* lib;
    bool save;
    std::vector<Take> takes;
    std::size_t turn = 0;  // the take the next call is of
    std::vector<double> ns;
};

jobject model = nullptr;

void call(Variant& v) {
    const Take& t = v.takes[v.turn];
    v.turn = (v.turn + 1) % v.takes.size();
    jobject r = nullptr;
    if (v.lib != nullptr) {
        bind(*v.lib);
        r = v.save ? env->CallStaticObjectMethod(loader_class, write_id, model, t.content, t.path)
                   : env->CallStaticObjectMethod(loader_class, read_id, model, t.path);
    } else {
        r = v.save ? env->CallStaticObjectMethod(store_class, java_write_id, model, t.content,
                                                 t.java_path)
                   : env->CallStaticObjectMethod(store_class, java_read_id, model, t.java_path);
    }
    if (r == nullptr || env->ExceptionCheck()) fail(v.label + ": the call failed");
    env->DeleteLocalRef(r);
    if (env->GetIntField(model, code_id) != 200) fail(v.label + ": status is not 200");
}

std::string file_bytes(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    std::stringstream ss;
    ss << in.rdbuf();
    return ss.str();
}

double median(std::vector<double> v) {
    std::sort(v.begin(), v.end());
    const std::size_t n = v.size();
    return n % 2 ? v[n / 2] : (v[n / 2 - 1] + v[n / 2]) / 2;
}

// The median over the passes of each pass's fastest call (samples holds `rounds` a pass).
double median_of_bests(const std::vector<double>& samples, std::size_t rounds) {
    std::vector<double> bests;
    for (std::size_t at = 0; at + rounds <= samples.size(); at += rounds) {
        bests.push_back(
            *std::min_element(samples.begin() + static_cast<std::ptrdiff_t>(at),
                              samples.begin() + static_cast<std::ptrdiff_t>(at + rounds)));
    }
    return median(bests);
}

struct Cell {
    std::string text;
    bool save;
    std::size_t bytes;  // the stored size (of the first build's file)
    std::vector<Variant> variants;
};

void run_cell(Cell& cell, int rounds, double warm_ms, bool first_pass, int pass) {
    for (Variant& v : cell.variants) {
        const double until = now_ns() + (first_pass ? warm_ms * 1e6 : 0);
        int calls = 0;
        do {
            call(v);
        } while (++calls < (first_pass ? 3 : 1) || now_ns() < until);
    }
    const std::size_t n = cell.variants.size();
    for (int r = 0; r < rounds; ++r) {
        for (std::size_t k = 0; k < n; ++k) {
            Variant& v = cell.variants[(k + static_cast<std::size_t>(r + pass)) % n];
            if (v.lib != nullptr) bind(*v.lib);  // untimed
            env->PushLocalFrame(16);
            const double t0 = now_ns();
            call(v);
            const double t1 = now_ns();
            env->PopLocalFrame(nullptr);
            v.ns.push_back(t1 - t0);
        }
    }
}

std::string machine() {
    std::ifstream in("/proc/cpuinfo");
    std::string line, model_name;
    while (std::getline(in, line)) {
        if (line.rfind("model name", 0) == 0) {
            model_name = line.substr(line.find(':') + 2);
            break;
        }
    }
    utsname u{};
    uname(&u);
    return model_name + ", " + std::to_string(sysconf(_SC_NPROCESSORS_ONLN)) + " cores, " +
           u.machine + ", Linux " + u.release;
}

void usage() {
    std::fprintf(
        stderr,
        "kiv_lang_bench --lib NAME=PATH [--lib NAME=PATH]... [options]\n"
        "  --lib NAME=PATH  a build of libkiv-native-lib.so; the first is the reference\n"
        "  --corpus DIR     the *.utf8.txt texts (default: " KIV_CORPUS_DIR
        ")\n"
        "  --dir DIR        where the files go, on tmpfs (default /dev/shm)\n"
        "  --passes N       passes over all cells (default 7)\n"
        "  --rounds N       samples per variant, cell and pass (default 7)\n"
        "  --warmup-s S     every variant called in turn for S seconds first (default 3)\n"
        "  --warmup-ms MS   warm-up per variant and cell in the first pass (default 30)\n"
        "  --only TEXT      only the texts whose name contains TEXT\n"
        "  --spread         also print each variant's quantiles (microseconds) to stderr\n");
    std::exit(2);
}

}  // namespace

int main(int argc, char** argv) {
    std::vector<Lib> libs;
    std::string corpus = KIV_CORPUS_DIR, dir = "/dev/shm", only;
    int passes = 7, rounds = 7;
    bool spread = false, all_samples = false;
    double warm_ms = 30, warm_s = 3;
    for (int i = 1; i < argc; ++i) {
        const std::string a = argv[i];
        if (a == "--spread" || a == "--all-samples") {
            (a == "--spread" ? spread : all_samples) = true;
            continue;
        }
        if (i + 1 >= argc) usage();
        const std::string v = argv[++i];
        if (a == "--lib" && v.find('=') != std::string::npos) {
            libs.push_back({v.substr(0, v.find('=')), v.substr(v.find('=') + 1)});
        } else if (a == "--corpus") {
            corpus = v;
        } else if (a == "--dir") {
            dir = v;
        } else if (a == "--passes") {
            passes = std::atoi(v.c_str());
        } else if (a == "--rounds") {
            rounds = std::atoi(v.c_str());
        } else if (a == "--warmup-ms") {
            warm_ms = std::atof(v.c_str());
        } else if (a == "--warmup-s") {
            warm_s = std::atof(v.c_str());
        } else if (a == "--only") {
            only = v;
        } else {
            usage();
        }
    }
    if (libs.empty() || passes < 1 || rounds < 1) usage();
    struct statfs fs {};
    constexpr long kTmpfs = 0x01021994, kRamfs = static_cast<long>(0x858458f6);
    if (statfs(dir.c_str(), &fs) != 0 ||
        (static_cast<long>(fs.f_type) != kTmpfs && static_cast<long>(fs.f_type) != kRamfs)) {
        fail(dir + " is not on tmpfs");
    }
    dir += "/kiv-lang-bench-" + std::to_string(getpid());
    if (std::system(("mkdir -p '" + dir + "'").c_str()) != 0) fail("cannot make " + dir);

    for (Lib& lib : libs) open_lib(lib);
    std::vector<Text> texts = load_texts(corpus);
    if (!only.empty()) {
        texts.erase(
            std::remove_if(texts.begin(), texts.end(),
                           [&](const Text& t) { return t.name.find(only) == std::string::npos; }),
            texts.end());
    }

    JavaVM* vm = nullptr;
    std::string error;
    if (!kiv::test::start_vm(false, &vm, &env, &error)) fail(error);
    loader_class = global_class("com/zelk/kiv/jni/NativeLoader");
    model_class = global_class("com/zelk/kiv/jni/JniModel");
    write_id = env->GetStaticMethodID(
        loader_class, "writeFile",
        "(Lcom/zelk/kiv/jni/JniModel;Ljava/lang/String;Ljava/lang/String;)Lcom/zelk/kiv/jni/"
        "JniModel;");
    read_id = env->GetStaticMethodID(
        loader_class, "readFile",
        "(Lcom/zelk/kiv/jni/JniModel;Ljava/lang/String;)Lcom/zelk/kiv/jni/JniModel;");
    code_id = env->GetFieldID(model_class, "code", "I");
    msg_id = env->GetFieldID(model_class, "msg", "Ljava/lang/String;");
    if (!write_id || !read_id || !code_id || !msg_id)
        fail("NativeLoader or JniModel lacks members");
    model = global(env->AllocObject(model_class));
    if (!kArt) {
        store_class = global_class("com/zelk/kiv/bench/JavaStore");
        paths_class = global_class("java/nio/file/Paths");
        java_write_id = env->GetStaticMethodID(
            store_class, "write",
            "(Lcom/zelk/kiv/jni/JniModel;Ljava/lang/String;Ljava/nio/file/Path;)Lcom/zelk/kiv/"
            "jni/JniModel;");
        java_read_id = env->GetStaticMethodID(
            store_class, "read",
            "(Lcom/zelk/kiv/jni/JniModel;Ljava/nio/file/Path;)Lcom/zelk/kiv/jni/JniModel;");
        paths_get_id = env->GetStaticMethodID(paths_class, "get",
                                              "(Ljava/lang/String;[Ljava/lang/String;)Ljava/nio/"
                                              "file/Path;");
        if (!java_write_id || !java_read_id || !paths_get_id) fail("JavaStore lacks members");
    }

    // The cells, each take checked once.
    std::vector<Cell> cells;
    int file_no = 0;
    const auto new_take = [&](jstring content) {
        Take t{content, nullptr, nullptr, dir + "/" + std::to_string(file_no++) + ".kiv"};
        t.path = static_cast<jstring>(global(env->NewStringUTF(t.file.c_str())));
        if (!kArt) t.java_path = path_object(t.file);
        return t;
    };
    // Reads the file a variant's last call saved; fails unless it holds `units`.
    const auto check_read = [&](Variant r, const std::u16string& units, const std::string& what) {
        r.save = false;
        r.turn = (r.turn + r.takes.size() - 1) % r.takes.size();
        call(r);
        auto msg = static_cast<jstring>(env->GetObjectField(model, msg_id));
        if (units_of(msg) != units) fail(what + " reads another text");
        env->DeleteLocalRef(msg);
    };
    for (const Text& t : texts) {
        std::vector<const std::u16string*> texts_of_kind{&t.units};
        for (const std::u16string& u : t.more) texts_of_kind.push_back(&u);
        // The ways a save goes: on ART both the library's ways, each where the text has it.
        struct Form {
            std::string tag;
            std::vector<std::u16string> units;  // one a take
        };
        std::vector<Form> forms;
        if (kArt) {
            Form utf{"UTF", {}}, enc{"enc", {}};
            for (const std::u16string* u : texts_of_kind) {
                const std::size_t run = first_ascii_run(*u), wide = first_wide(*u);
                if (run != std::u16string::npos) utf.units.push_back(rotated(*u, run));
                if (wide != std::u16string::npos) enc.units.push_back(rotated(*u, wide));
            }
            for (Form* f : {&utf, &enc}) {
                if (f->units.size() == texts_of_kind.size()) forms.push_back(std::move(*f));
            }
        } else {
            Form f{"", {}};
            for (const std::u16string* u : texts_of_kind) f.units.push_back(*u);
            forms.push_back(std::move(f));
        }
        Cell save{t.name, true, 0, {}}, read{t.name, false, 0, {}};
        for (const Form& f : forms) {
            std::vector<jstring> contents;
            for (const std::u16string& u : f.units) contents.push_back(new_string(u));
            std::vector<std::string> reference(contents.size());
            for (const Lib& lib : libs) {
                Variant v{lib.name + (f.tag.empty() ? "" : " " + f.tag), &lib, true, {}, 0, {}};
                for (std::size_t k = 0; k < contents.size(); ++k) {
                    v.takes.push_back(new_take(contents[k]));
                    v.turn = k;
                    call(v);
                    const std::string stored = file_bytes(v.takes[k].file);
                    if (reference[k].empty()) reference[k] = stored;
                    if (stored != reference[k])
                        fail(t.name + ": " + lib.name + " stores other bytes");
                    if (save.bytes == 0) save.bytes = read.bytes = stored.size();
                    check_read(v, f.units[k], t.name + ": " + lib.name);
                }
                Variant r = v;
                r.label = lib.name;
                r.save = false;
                save.variants.push_back(v);
                if (&f == &forms.front()) read.variants.push_back(r);  // a read has one way
            }
        }
        if (!kArt) {
            Variant v{"Java", nullptr, true, {}, 0, {}};
            for (const Take& native : save.variants[0].takes) {
                v.takes.push_back(new_take(native.content));
                v.turn = v.takes.size() - 1;
                call(v);
                check_read(v, *texts_of_kind[v.takes.size() - 1], t.name + ": the Java store");
            }
            Variant r = v;
            r.save = false;
            save.variants.push_back(v);
            read.variants.push_back(r);
        }
        cells.push_back(std::move(read));
        cells.push_back(std::move(save));
    }

    // Every variant called in turn for a while first, so the VM has compiled what it will.
    for (const double until = now_ns() + warm_s * 1e9; now_ns() < until;) {
        for (Cell& c : cells) {
            for (Variant& v : c.variants) call(v);
        }
    }
    const std::time_t start = std::time(nullptr);
    for (int pass = 0; pass < passes; ++pass) {
        for (Cell& c : cells) run_cell(c, rounds, warm_ms, pass == 0, pass);
        std::fprintf(stderr, "pass %d of %d done\n", pass + 1, passes);
    }
    if (spread) {
        for (const Cell& c : cells) {
            for (const Variant& v : c.variants) {
                std::vector<double> ns = v.ns;
                std::sort(ns.begin(), ns.end());
                const auto at = [&](double q) {
                    return ns[static_cast<std::size_t>(q * static_cast<double>(ns.size() - 1))] /
                           1e3;
                };
                std::fprintf(
                    stderr,
                    "%s %s %s: us min %.0f p10 %.0f p25 %.0f p50 %.0f p75 %.0f p90 %.0f max %.0f\n",
                    c.text.c_str(), c.save ? "write" : "read", v.label.c_str(), at(0), at(0.1),
                    at(0.25), at(0.5), at(0.75), at(0.9), at(1));
            }
        }
    }
    char when[64];
    std::strftime(when, sizeof when, "%Y-%m-%d %H:%M UTC", std::gmtime(&start));

    std::printf("VM: %s; %s; files on tmpfs (%s); %d passes x %d rounds, one call a sample\n\n",
                kVm, when, dir.c_str(), passes, rounds);
    std::printf("Machine: %s\n\n", machine().c_str());
    for (const Lib& lib : libs) std::printf("- `%s`: %s\n", lib.name.c_str(), lib.path.c_str());
    std::printf(all_samples
                    ? "\nMB/s of stored bytes (median of all calls)"
                    : "\nMB/s of stored bytes (median over the passes of each pass's fastest "
                      "call)");
    if (libs.size() > 1) {
        std::printf("; ratio: `%s` over `%s`", libs.back().name.c_str(), libs.front().name.c_str());
    }
    if (kArt) {
        std::printf(
            "; UTF: the text starts with %zu ASCII characters (ART's GetStringUTFChars), "
            "enc: it starts with a wider one (the library's encoder)",
            kProbe);
    }
    std::printf("\n");
    for (bool save : {false, true}) {
        std::vector<std::string> labels;
        for (const Cell& c : cells) {
            if (c.save != save) continue;
            for (const Variant& v : c.variants) {
                if (std::find(labels.begin(), labels.end(), v.label) == labels.end()) {
                    labels.push_back(v.label);
                }
            }
        }
        // Ratios: the last build over the first, way for way (the label's rest after the name).
        std::vector<std::pair<std::size_t, std::size_t>> ratios;
        if (libs.size() > 1) {
            for (std::size_t i = 0; i < labels.size(); ++i) {
                if (labels[i].rfind(libs.back().name, 0) != 0) continue;
                const std::string rest = labels[i].substr(libs.back().name.size());
                for (std::size_t j = 0; j < labels.size(); ++j) {
                    if (labels[j] == libs.front().name + rest) ratios.push_back({i, j});
                }
            }
        }
        std::printf("\n%s\n\n| text | stored bytes |", save ? "writeFile" : "readFile");
        for (const std::string& l : labels) std::printf(" %s |", l.c_str());
        for (const auto& r : ratios) {
            std::printf(" ratio%s |", labels[r.first].substr(libs.back().name.size()).c_str());
        }
        std::printf("\n|---|--:|");
        for (std::size_t i = 0; i < labels.size() + ratios.size(); ++i) std::printf("--:|");
        std::printf("\n");
        for (const Cell& c : cells) {
            if (c.save != save) continue;
            std::printf("| %s | %zu |", c.text.c_str(), c.bytes);
            std::vector<double> mbs;
            for (const std::string& l : labels) {
                auto it = std::find_if(c.variants.begin(), c.variants.end(),
                                       [&](const Variant& v) { return v.label == l; });
                double mb = 0;
                if (it != c.variants.end()) {
                    const double ns =
                        all_samples ? median(it->ns)
                                    : median_of_bests(it->ns, static_cast<std::size_t>(rounds));
                    double bytes = 0;  // the takes' mean size
                    for (const Take& t : it->takes) {
                        bytes += static_cast<double>(file_bytes(t.file).size());
                    }
                    mb = bytes / static_cast<double>(it->takes.size()) * 1e3 / ns;
                    std::printf(" %.0f |", mb);
                } else {
                    std::printf(" |");
                }
                mbs.push_back(mb);
            }
            for (const auto& r : ratios) {
                if (mbs[r.first] > 0 && mbs[r.second] > 0) {
                    std::printf(" %.2f |", mbs[r.first] / mbs[r.second]);
                } else {
                    std::printf(" |");
                }
            }
            std::printf("\n");
        }
    }
    std::fflush(stdout);
    if (std::system(("rm -rf '" + dir + "'").c_str()) != 0) fail("cannot remove " + dir);
    // The VM stays up: DestroyJavaVM would wait for threads it may still run.
    return 0;
}
