// viewer --check: holds a scene to what the viewer gives it, in an offscreen
// GL context, and prints one line for each problem, compiler style:
// FILE[:LINE]: what is wrong; what to do. The scene is read with the
// viewer's own shader and image code, so the check sees what the viewer
// sees. Exit status: 0 sound, 1 problems, 2 misuse, 3 no 4.6 context.
#include <glad/gl.h>

#include <EGL/egl.h>
#include <EGL/eglext.h>

#define STB_IMAGE_IMPLEMENTATION
#include "image.h"
#include "shader.h"

#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <iostream>
#include <optional>
#include <regex>
#include <sstream>
#include <string>
#include <vector>

// What the viewer sets, by name, and the GLSL type it sends.
struct Uniform {
    const char* name;
    GLenum type;
};
const Uniform uniforms[] = {
    { "model", GL_FLOAT_MAT4 },
    { "view", GL_FLOAT_MAT4 },
    { "projection", GL_FLOAT_MAT4 },
    { "lightPos", GL_FLOAT_VEC3 },
    { "lightColor", GL_FLOAT_VEC3 },
    { "objectColor", GL_FLOAT_VEC3 },
    { "viewPos", GL_FLOAT_VEC3 },
    { "texture0", GL_SAMPLER_2D },
};
const char* const uniformList = "model, view, projection (mat4), lightPos, lightColor, "
                                "objectColor, viewPos (vec3) and texture0 (sampler2D)";

// What the viewer feeds the vertex stage, by location.
struct Input {
    GLenum type;
    const char* meaning;
};
const Input inputs[] = {
    { GL_FLOAT_VEC3, "position" },
    { GL_FLOAT_VEC2, "texture coordinate" },
    { GL_FLOAT_VEC3, "normal" },
};
const char* const inputList = "0 (vec3 position), 1 (vec2 texture coordinate) and 2 (vec3 normal)";

// GLSL's names for the types a scene is likely to declare.
struct TypeName {
    GLenum type;
    const char* name;
};
const TypeName typeNames[] = {
    { GL_FLOAT, "float" },
    { GL_FLOAT_VEC2, "vec2" },
    { GL_FLOAT_VEC3, "vec3" },
    { GL_FLOAT_VEC4, "vec4" },
    { GL_INT, "int" },
    { GL_INT_VEC2, "ivec2" },
    { GL_INT_VEC3, "ivec3" },
    { GL_INT_VEC4, "ivec4" },
    { GL_UNSIGNED_INT, "uint" },
    { GL_UNSIGNED_INT_VEC2, "uvec2" },
    { GL_UNSIGNED_INT_VEC3, "uvec3" },
    { GL_UNSIGNED_INT_VEC4, "uvec4" },
    { GL_BOOL, "bool" },
    { GL_BOOL_VEC2, "bvec2" },
    { GL_BOOL_VEC3, "bvec3" },
    { GL_BOOL_VEC4, "bvec4" },
    { GL_DOUBLE, "double" },
    { GL_DOUBLE_VEC2, "dvec2" },
    { GL_DOUBLE_VEC3, "dvec3" },
    { GL_DOUBLE_VEC4, "dvec4" },
    { GL_FLOAT_MAT2, "mat2" },
    { GL_FLOAT_MAT3, "mat3" },
    { GL_FLOAT_MAT4, "mat4" },
    { GL_FLOAT_MAT2x3, "mat2x3" },
    { GL_FLOAT_MAT2x4, "mat2x4" },
    { GL_FLOAT_MAT3x2, "mat3x2" },
    { GL_FLOAT_MAT3x4, "mat3x4" },
    { GL_FLOAT_MAT4x2, "mat4x2" },
    { GL_FLOAT_MAT4x3, "mat4x3" },
    { GL_SAMPLER_1D, "sampler1D" },
    { GL_SAMPLER_2D, "sampler2D" },
    { GL_SAMPLER_3D, "sampler3D" },
    { GL_SAMPLER_CUBE, "samplerCube" },
    { GL_SAMPLER_2D_SHADOW, "sampler2DShadow" },
    { GL_SAMPLER_2D_ARRAY, "sampler2DArray" },
    { GL_SAMPLER_2D_RECT, "sampler2DRect" },
    { GL_SAMPLER_BUFFER, "samplerBuffer" },
    { GL_SAMPLER_2D_MULTISAMPLE, "sampler2DMS" },
    { GL_INT_SAMPLER_2D, "isampler2D" },
    { GL_UNSIGNED_INT_SAMPLER_2D, "usampler2D" },
};

// A learner's mistakes, as the driver's log words them, each with what it
// means and what a 4.6 core shader writes instead. The patterns are Mesa's
// GLSL compiler's and linker's words, the same in Mesa 22.3 (Debian 12) and
// Mesa 25.0 (Debian 13), matched against a message without its location and
// kind. In what a row says, $1... are the pattern's groups; `from` is
// replaced by `to` in the line to blame, which the line then quotes.
enum class Blame {
    Reported, // the line the driver names
    CodeBefore, // the line before it, when the driver names the next statement
    NoVersion, // line 1, where the source lacks a #version line first
    Declaration, // the fragment shader's line that declares $2 as an input
};
struct Mistake {
    const char* stage; // "VERTEX", "FRAGMENT", "PROGRAM", or "" for either stage
    Blame blame;
    const char* pattern;
    const char* wrong;
    const char* instead;
    const char* from;
    const char* to;
};
const Mistake mistakes[] = {
    // Without a #version line the driver reads GLSL 1.10, and every error
    // follows from that.
    { "", Blame::NoVersion, "", "no #version line, so the driver reads this file as GLSL 1.10",
        "a 4.6 core shader begins with", "", "#version 460 core" },
    { "", Blame::Reported, "#version must appear on the first line",
        "#version comes after other lines", "make it the file's first line", "", "" },
    { "FRAGMENT", Blame::Reported, "`(gl_FragColor|gl_FragData)' undeclared",
        "$1 is not in core GLSL",
        "declare an output of your own, out vec4 FragColor; before main, and write that",
        R"(gl_FragData\s*\[\s*0\s*\]|gl_FragColor)", "FragColor" },
    { "", Blame::Reported, "no function with name '(texture2D|textureCube)'",
        "$1 is not in core GLSL", "texture() reads every kind of sampler",
        R"(\b(texture2D|textureCube)\b)", "texture" },
    { "", Blame::Reported, "no function with name '(texture2DProj)'", "$1 is not in core GLSL",
        "textureProj() reads every kind of sampler", R"(\btexture2DProj\b)", "textureProj" },
    { "VERTEX", Blame::Reported, "illegal use of reserved word `attribute'",
        "attribute is not in core GLSL",
        "a vertex input is declared in, at the location the viewer feeds (0 position, 1 texture "
        "coordinate, 2 normal)",
        R"(\battribute\b)", "layout(location = N) in" },
    { "VERTEX", Blame::Reported, "illegal use of reserved word `varying'",
        "varying is not in core GLSL", "what the vertex stage passes on is declared out",
        R"(\bvarying\b)", "out" },
    { "FRAGMENT", Blame::Reported, "illegal use of reserved word `varying'",
        "varying is not in core GLSL", "what the fragment stage receives is declared in",
        R"(\bvarying\b)", "in" },
    { "", Blame::CodeBefore, "syntax error, unexpected .*expecting .*';'",
        "this statement lacks its closing semicolon", "end it with one", R"(\s*(//.*)?$)", ";" },
    { "PROGRAM", Blame::Declaration,
        "(\\w+) shader output `(\\w+)' declared as type `(\\w+)', but (\\w+) shader input "
        "declared as type `(\\w+)'",
        "the $1 stage's out $2 is a $3, but the $4 stage's in $2 a $5", "declare both of one type",
        R"(\b$5\b)", "$3" },
    { "PROGRAM", Blame::Declaration,
        "(\\w+) shader output `(\\w+)' (.*) qualifier, but (\\w+) shader input (.*) qualifier",
        "the $1 stage's out $2 and the $4 stage's in $2 disagree: the output $3, the input $5",
        "give both the same qualifiers", "", "" },
    { "PROGRAM", Blame::Declaration,
        "(\\w+) shader input `(\\w+)' has no matching output in the previous stage",
        "the $1 stage's in $2 is never written by the vertex stage",
        "declare it out, of the same type, in the vertex shader and write it there", "", "" },
};

// The shader files, as the viewer opens them from the scene's directory.
const char* const vertexShader = "Shaders/OG_V.glsl";
const char* const fragmentShader = "Shaders/OG_F.glsl";

const char* const separator = "\n -- --------------------------------------------------- -- \n";

// What the check finds, in the order found: lines for the report, and how
// many of them are problems rather than warnings.
struct Scene {
    std::string vertexFile;
    std::string fragmentFile;
    std::string imageFile;
    std::vector<std::string> lines;
    int problems = 0;
    std::optional<Shader> shader;
    GLint program = 0;
};
static void problem(Scene& scene, const std::string& line)
{
    scene.lines.push_back(line);
    scene.problems++;
}

static std::string typeName(GLenum type)
{
    for (const TypeName& known : typeNames)
        if (known.type == type)
            return known.name;
    std::ostringstream other;
    other << "the GL type 0x" << std::hex << type;
    return other.str();
}

// Fatal lines before any scene is looked at.
static int misuse(const std::string& why)
{
    std::cerr << "viewer --check: " << why << "\nUsage: viewer --check [DIR | --example NAME]"
              << std::endl;
    return 2;
}
static int noContext(const std::string& why)
{
    std::cerr << "viewer --check: no OpenGL 4.6 core context here: " << why << std::endl;
    return 3;
}

static GLADapiproc eglLoad(const char* name)
{
    return reinterpret_cast<GLADapiproc>(eglGetProcAddress(name));
}

static std::string glString(GLenum name)
{
    auto getString = reinterpret_cast<PFNGLGETSTRINGPROC>(eglGetProcAddress("glGetString"));
    const GLubyte* text = getString ? getString(name) : nullptr;
    return text ? reinterpret_cast<const char*>(text) : "an unknown version";
}

// A file the viewer reads, by its path from the scene's directory as the
// viewer opens it, as a line that names it by its whole path when it
// cannot: missing, or not a readable file.
static std::string unreadable(const char* file, const std::string& path, const char* what)
{
    struct stat status;
    if (stat(file, &status) != 0 && errno == ENOENT)
        return path + ": missing; the viewer reads " + what
            + " from here: create it, or name the directory that holds Shaders/ and test.png";
    if (stat(file, &status) == 0 && S_ISDIR(status.st_mode))
        return path + ": a directory, where the viewer reads " + what + ": make it a file";
    if (stat(file, &status) == 0 && !S_ISREG(status.st_mode))
        return path + ": not a regular file but a pipe or a device, on which the viewer would wait"
            + " or read without end; it reads " + what + " from here: make it a file";
    std::FILE* opened = std::fopen(file, "rb");
    if (!opened)
        return path + ": cannot be read (" + std::strerror(errno) + "); the viewer reads " + what
            + " from here: make it readable";
    std::fclose(opened);
    return "";
}

static std::string readText(const std::string& file)
{
    std::ifstream in(file);
    std::stringstream text;
    text << in.rdbuf();
    return text.str();
}
static std::vector<std::string> sourceLines(const std::string& file)
{
    std::istringstream in(readText(file));
    std::vector<std::string> lines;
    for (std::string line; std::getline(in, line);)
        lines.push_back(line);
    return lines;
}

// Whether a stage's source names a uniform, as a word. Mesa 25 calls a
// uniform of the default block referenced by both stages when one alone
// declares it, so GL's answer alone would name a file that never mentions it.
static bool mentions(const std::string& file, const std::string& name)
{
    return std::regex_search(readText(file), std::regex("\\b" + name + "\\b"));
}

// Whether a source line holds code: not blank, not only a comment.
static bool isCode(const std::string& line)
{
    std::size_t at = line.find_first_not_of(" \t\r");
    return at != std::string::npos && line.compare(at, 2, "//") != 0;
}

// Whether the source has a #version line at all; one after other lines has
// a row of its own.
static bool versioned(const std::vector<std::string>& source)
{
    for (const std::string& line : source)
        if (std::regex_search(line, std::regex(R"(^\s*#\s*version\b)")))
            return true;
    return false;
}

// The line a mistake blames, 1-based, or 0 for none: the reported line, or
// for a statement the driver finds unfinished only at the next one, the
// last line of code before that, when the next one starts the reported line.
static std::size_t blamed(const Mistake& mistake, const std::smatch& said, std::size_t line,
    std::size_t column, const std::vector<std::string>& source)
{
    if (mistake.blame == Blame::NoVersion)
        return 1;
    if (mistake.blame == Blame::Declaration) {
        std::regex declaration(R"(\bin\b[^;]*\b)" + said[2].str() + R"(\b)");
        for (std::size_t at = 0; at < source.size(); at++)
            if (std::regex_search(source[at], declaration))
                return at + 1;
        return 0;
    }
    if (mistake.blame == Blame::CodeBefore && line >= 1 && line <= source.size()
        && !isCode(source[line - 1].substr(0, column > 0 ? column - 1 : 0)))
        for (std::size_t before = line - 1; before >= 1; before--)
            if (isCode(source[before - 1]))
                return before;
    return line;
}

// One explained line: FILE[:LINE]: what is wrong; what to write instead,
// quoting the blamed line so written.
static std::string explain(const Mistake& mistake, const std::smatch& said, const std::string& file,
    std::size_t line, const std::vector<std::string>& source)
{
    std::string out = file + (line ? ":" + std::to_string(line) : "") + ": "
        + said.format(mistake.wrong) + "; " + said.format(mistake.instead);
    std::string written = *mistake.to && !*mistake.from ? mistake.to : "";
    if (*mistake.from && line >= 1 && line <= source.size()) {
        std::string text = source[line - 1];
        text = text.substr(std::min(text.size(), text.find_first_not_of(" \t")));
        written = std::regex_replace(text, std::regex(said.format(mistake.from)),
            said.format(mistake.to), std::regex_constants::format_first_only);
    }
    return written.empty() ? out : out + ": `" + written + "`";
}

// The table's first row that explains a message of a stage, its groups in
// said.
static const Mistake* knownMistake(
    const std::string& message, const std::string& stage, bool unversioned, std::smatch& said)
{
    for (const Mistake& mistake : mistakes) {
        bool applies = mistake.blame == Blame::NoVersion
            ? unversioned && std::regex_search(message, said, std::regex(""))
            : std::regex_search(message, said, std::regex(mistake.pattern));
        if (applies && (!*mistake.stage || stage == mistake.stage))
            return &mistake;
    }
    return nullptr;
}

// A stage's log (or the link's, tagged PROGRAM), a line each: a known
// mistake explained, once for its line, and the driver's other errors on
// that line left out as its consequences; a warning as a warning; an
// unknown error in the driver's words, at FILE:LINE where the log gives a
// line (Mesa's "0:7(12): ", or "0(7) : ", or "ERROR: 0:7: "), else FILE.
static void logLines(Scene& scene, const std::string& log, const std::string& stage,
    const std::string& file, const std::string& say, const std::string& what)
{
    static const std::regex located(
        R"(^\s*(?:ERROR:\s*)?\d+[:(](\d+)\)?(?:\((\d+)\))?\s*:\s*(.*)$)");
    static const std::regex kind(R"(^((?:preprocessor )?(?:error|warning)):\s*(.*)$)");
    std::vector<std::string> source = sourceLines(file);
    bool unversioned = stage != "PROGRAM" && !versioned(source);
    std::istringstream in(log);
    std::string text;
    std::size_t before = scene.lines.size(), explainedAt = 0;
    while (std::getline(in, text)) {
        std::smatch match, parts, said;
        if (text.find_first_not_of(" \t\r") == std::string::npos)
            continue;
        std::size_t line = 0, column = 0;
        if (std::regex_match(text, match, located)) {
            line = std::stoul(match[1].str());
            column = match[2].matched ? std::stoul(match[2].str()) : 0;
            text = match[3].str();
        }
        std::string message = std::regex_match(text, parts, kind) ? parts[2].str() : text;
        std::string where = file + (line ? ":" + std::to_string(line) : "") + ": ";
        if (parts[1].matched && parts[1].str().find("warning") != std::string::npos) {
            scene.lines.push_back(where + "warning: " + message);
            continue;
        }
        const Mistake* known = knownMistake(message, stage, unversioned, said);
        if (explainedAt == std::string::npos || (line && line == explainedAt))
            continue;
        if (known) {
            std::size_t to = blamed(*known, said, line, column, source);
            problem(scene, explain(*known, said, file, to, source));
            explainedAt = known->blame == Blame::NoVersion ? std::string::npos : line;
        } else {
            problem(scene, where + say + text + "; " + what);
        }
    }
    if (scene.lines.size() == before)
        problem(scene, file + ": " + say + "the driver gives no reason; " + what);
}

// Context: EGL with no display at all, 4.6 core. Returns a status to end
// with, or 0 with the context current.
static int context(char** argv, EGLDisplay& display)
{
    const char* clientExtensions = eglQueryString(EGL_NO_DISPLAY, EGL_EXTENSIONS);
    if (!clientExtensions || !std::strstr(clientExtensions, "EGL_MESA_platform_surfaceless"))
        return noContext("EGL has no surfaceless platform (install libegl-mesa0)");
    display = eglGetPlatformDisplay(EGL_PLATFORM_SURFACELESS_MESA, EGL_DEFAULT_DISPLAY, nullptr);
    EGLConfig config = nullptr;
    EGLint configs = 0;
    const EGLint configWanted[]
        = { EGL_SURFACE_TYPE, EGL_DONT_CARE, EGL_RENDERABLE_TYPE, EGL_OPENGL_BIT, EGL_NONE };
    if (display == EGL_NO_DISPLAY || !eglInitialize(display, nullptr, nullptr)
        || !eglBindAPI(EGL_OPENGL_API)
        || !eglChooseConfig(display, configWanted, &config, 1, &configs) || configs < 1)
        return noContext("EGL's surfaceless platform offers no OpenGL");
    const EGLint core46[] = { EGL_CONTEXT_MAJOR_VERSION, 4, EGL_CONTEXT_MINOR_VERSION, 6,
        EGL_CONTEXT_OPENGL_PROFILE_MASK, EGL_CONTEXT_OPENGL_CORE_PROFILE_BIT, EGL_NONE };
    EGLContext context = eglCreateContext(display, config, EGL_NO_CONTEXT, core46);
    if (context == EGL_NO_CONTEXT) {
        // Whatever context there is names the version. Mesa's software
        // rasteriser offers 4.5 and runs 4.6 when told to, which Mesa reads
        // once a process: so the check starts again, told, once.
        context = eglCreateContext(display, config, EGL_NO_CONTEXT, nullptr);
        if (context == EGL_NO_CONTEXT
            || !eglMakeCurrent(display, EGL_NO_SURFACE, EGL_NO_SURFACE, context))
            return noContext("EGL gives no OpenGL context at all");
        std::string renderer = glString(GL_RENDERER);
        bool software = renderer.find("llvmpipe") != std::string::npos
            || renderer.find("softpipe") != std::string::npos;
        if (software && !std::getenv("MESA_GL_VERSION_OVERRIDE")) {
            setenv("MESA_GL_VERSION_OVERRIDE", "4.6", 1);
            setenv("MESA_GLSL_VERSION_OVERRIDE", "460", 1);
            execv("/proc/self/exe", argv);
            execv(argv[0], argv);
        }
        return noContext("the GL offers " + glString(GL_VERSION) + " (" + renderer + ")");
    }
    if (!eglMakeCurrent(display, EGL_NO_SURFACE, EGL_NO_SURFACE, context) || !gladLoadGL(eglLoad))
        return noContext("the 4.6 context cannot be made current or its entry points loaded");
    return 0;
}

// Files: the scene's directory becomes the working directory, as the
// launcher makes it the viewer's, and each shader file the viewer reads is
// there and readable. Returns a status to end with, or 0.
static int files(int argc, char** argv, Scene& scene)
{
    if (argc == 2 && chdir(argv[1]) != 0)
        return misuse(std::string("cannot enter ") + argv[1] + ": " + std::strerror(errno));
    std::vector<char> cwd(4096);
    if (!getcwd(cwd.data(), cwd.size()))
        return misuse(std::string("cannot tell the scene's directory: ") + std::strerror(errno));
    std::string here = cwd.data();
    if (here.back() != '/')
        here += '/';
    scene.vertexFile = here + vertexShader;
    scene.fragmentFile = here + fragmentShader;
    scene.imageFile = here + "test.png";
    std::string missing[] = { unreadable(vertexShader, scene.vertexFile, "the vertex shader"),
        unreadable(fragmentShader, scene.fragmentFile, "the fragment shader") };
    for (const std::string& line : missing)
        if (!line.empty())
            problem(scene, line);
    return 0;
}

// Build: the shaders built as the viewer builds them, its messages taken
// apart. After a missing file both sources are empty, so the stages'
// failures would say nothing more; and a pipe would never end.
static void build(Scene& scene)
{
    if (scene.problems)
        return;
    std::ostringstream messages;
    std::streambuf* out = std::cout.rdbuf(messages.rdbuf());
    scene.shader.emplace(vertexShader, fragmentShader);
    std::cout.rdbuf(out);
    std::string said = messages.str();
    for (std::size_t at = 0, end; (end = said.find(separator, at)) != std::string::npos;
         at = end + std::strlen(separator)) {
        std::string block = said.substr(at, end - at);
        std::size_t newline = block.find('\n');
        std::string head = block.substr(0, newline);
        std::string log = newline == std::string::npos ? "" : block.substr(newline + 1);
        if (head.find("of type: VERTEX") != std::string::npos)
            logLines(scene, log, "VERTEX", scene.vertexFile,
                "does not compile: ", "correct the vertex shader there");
        else if (head.find("of type: FRAGMENT") != std::string::npos)
            logLines(scene, log, "FRAGMENT", scene.fragmentFile,
                "does not compile: ", "correct the fragment shader there");
        else if (!scene.problems)
            logLines(scene, log, "PROGRAM", scene.fragmentFile,
                "does not link with " + scene.vertexFile + ": ",
                "make the two stages' declarations agree");
    }
    scene.shader->use();
    glGetIntegerv(GL_CURRENT_PROGRAM, &scene.program);
}

// A resource's whole name, however long: GL gives its length with the
// terminating zero.
static std::string resourceName(GLuint program, GLenum interface, GLint index)
{
    const GLenum asked = GL_NAME_LENGTH;
    GLint length = 0;
    glGetProgramResourceiv(program, interface, index, 1, &asked, 1, nullptr, &length);
    std::string name(length > 0 ? length : 1, '\0');
    glGetProgramResourceName(program, interface, index, length, nullptr, name.data());
    name.resize(std::strlen(name.c_str()));
    return name;
}

// Contract, uniforms: every active one the viewer sets, of the type it
// sends, named in the file that mentions it.
static void uniformContract(Scene& scene)
{
    GLint count = 0;
    glGetProgramInterfaceiv(scene.program, GL_UNIFORM, GL_ACTIVE_RESOURCES, &count);
    for (GLint i = 0; i < count; i++) {
        std::string name = resourceName(scene.program, GL_UNIFORM, i);
        const GLenum asked[] = { GL_TYPE, GL_BLOCK_INDEX, GL_REFERENCED_BY_VERTEX_SHADER,
            GL_REFERENCED_BY_FRAGMENT_SHADER };
        GLint got[4] = {};
        glGetProgramResourceiv(scene.program, GL_UNIFORM, i, 4, asked, 4, nullptr, got);
        std::string base = name;
        if (base.size() > 3 && base.compare(base.size() - 3, 3, "[0]") == 0)
            base.resize(base.size() - 3);
        if (base.compare(0, 3, "gl_") == 0)
            continue;
        const Uniform* known = nullptr;
        for (const Uniform& uniform : uniforms)
            if (base == uniform.name && got[1] == -1)
                known = &uniform;
        std::string wrong;
        if (!known)
            wrong = ": uniform " + base + " is never set by the viewer, which sets " + uniformList
                + ": use one of these names, or a constant";
        else if (static_cast<GLenum>(got[0]) != known->type)
            wrong = ": uniform " + base + " is declared " + typeName(got[0])
                + ", but the viewer sends a " + typeName(known->type) + ": declare it as "
                + typeName(known->type) + " " + base;
        bool inVertex = got[2] && mentions(scene.vertexFile, base);
        bool inFragment = got[3] && mentions(scene.fragmentFile, base);
        if (!inVertex && !inFragment) {
            inVertex = got[2];
            inFragment = got[3];
        }
        if (!wrong.empty() && inVertex)
            problem(scene, scene.vertexFile + wrong);
        if (!wrong.empty() && inFragment)
            problem(scene, scene.fragmentFile + wrong);
    }
}

// Contract, vertex inputs: every active one at a location the viewer feeds,
// of its type.
static void inputContract(Scene& scene)
{
    GLint count = 0;
    glGetProgramInterfaceiv(scene.program, GL_PROGRAM_INPUT, GL_ACTIVE_RESOURCES, &count);
    for (GLint i = 0; i < count; i++) {
        std::string name = resourceName(scene.program, GL_PROGRAM_INPUT, i);
        const GLenum asked[] = { GL_TYPE, GL_LOCATION };
        GLint got[2] = {};
        glGetProgramResourceiv(scene.program, GL_PROGRAM_INPUT, i, 2, asked, 2, nullptr, got);
        if (got[1] < 0)
            continue;
        std::string at = ": input " + name + " at location " + std::to_string(got[1]);
        if (got[1] > 2)
            problem(scene,
                scene.vertexFile + at + " is never fed; the viewer feeds locations " + inputList
                    + ": give it one of these with layout(location = N)");
        else if (static_cast<GLenum>(got[0]) != inputs[got[1]].type)
            problem(scene,
                scene.vertexFile + at + " is declared " + typeName(got[0])
                    + ", but the viewer feeds a " + typeName(inputs[got[1]].type) + " "
                    + inputs[got[1]].meaning + " there: declare it as "
                    + typeName(inputs[got[1]].type));
    }
}

// Whether a program's stage writes the output named, as GL lists it.
static bool writes(GLuint program, const std::string& wanted)
{
    GLint count = 0;
    glGetProgramInterfaceiv(program, GL_PROGRAM_OUTPUT, GL_ACTIVE_RESOURCES, &count);
    for (GLint i = 0; i < count; i++) {
        std::string name = resourceName(program, GL_PROGRAM_OUTPUT, i);
        if (wanted.empty() ? name.compare(0, 3, "gl_") != 0 : wanted == name)
            return true;
    }
    return false;
}

// Contract, outputs: a colour out of the fragment stage, and a position out
// of the vertex stage. The linked program lists the fragment stage's
// outputs only, so the vertex stage is linked once more on its own, as a
// separable program, which lists the built-in outputs it writes.
static void outputContract(Scene& scene)
{
    if (!writes(scene.program, ""))
        problem(scene,
            scene.fragmentFile
                + ": writes no colour, so the viewer draws whatever the GPU leaves there; write "
                  "one in main, to an output declared before it: out vec4 FragColor;");
    std::string source = readText(scene.vertexFile);
    const char* text = source.c_str();
    GLuint vertexOnly = glCreateShaderProgramv(GL_VERTEX_SHADER, 1, &text);
    GLint linked = 0;
    glGetProgramiv(vertexOnly, GL_LINK_STATUS, &linked);
    if (linked && !writes(vertexOnly, "gl_Position"))
        problem(scene,
            scene.vertexFile
                + ": never writes gl_Position, so no cube reaches the screen; set it in main: "
                  "gl_Position = projection * view * model * vec4(aPos, 1.0);");
    glDeleteProgram(vertexOnly);
}

static void contract(Scene& scene)
{
    if (!scene.program)
        return;
    uniformContract(scene);
    inputContract(scene);
    outputContract(scene);
}

// Image: the viewer's own step and its own line; a missing file is named by
// its whole path, as the shaders are, and a pipe or a device, on which the
// viewer would wait, is not opened.
static void image(Scene& scene)
{
    struct stat status;
    bool special
        = stat("test.png", &status) == 0 && !S_ISREG(status.st_mode) && !S_ISDIR(status.st_mode);
    Image image = special ? Image() : loadImage("test.png", [] {
        GLint largest = 0;
        glGetIntegerv(GL_MAX_TEXTURE_SIZE, &largest);
        return largest;
    });
    if (special)
        problem(scene,
            scene.imageFile + ": not a regular file but a pipe or a device, on which the"
                + " viewer would wait or read without end: make it an image file");
    else if (!image.pixels && stat("test.png", &status) != 0 && errno == ENOENT)
        problem(scene,
            scene.imageFile + ": missing; the viewer prints \"" + failureLine(image)
                + "\" and draws the cubes without a surface: put the image there");
    else if (!image.pixels)
        problem(scene, failureLine(image));
    stbi_image_free(image.pixels);
}

// Report: a line a problem or warning, nothing for a sound scene; warnings
// alone leave it sound.
static int report(const Scene& scene, EGLDisplay display)
{
    for (const std::string& line : scene.lines)
        std::cout << line << "\n";
    std::cout.flush();
    eglMakeCurrent(display, EGL_NO_SURFACE, EGL_NO_SURFACE, EGL_NO_CONTEXT);
    eglTerminate(display);
    return scene.problems ? 1 : 0;
}

int main(int argc, char** argv)
{
    // Arguments: at most the scene's directory.
    if (argc > 2)
        return misuse("one directory at most, not " + std::to_string(argc - 1));
    if (argc == 2 && argv[1][0] == '-')
        return misuse(std::string("unknown option ") + argv[1]);
    EGLDisplay display = EGL_NO_DISPLAY;
    Scene scene;
    if (int status = context(argv, display))
        return status;
    if (int status = files(argc, argv, scene))
        return status;
    build(scene);
    contract(scene);
    image(scene);
    return report(scene, display);
}
