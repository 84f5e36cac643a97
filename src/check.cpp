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

const char* const separator = "\n -- --------------------------------------------------- -- \n";

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

// A file the viewer reads, as a line when it cannot: missing, or not a
// readable file.
static std::string unreadable(const std::string& path, const char* what)
{
    struct stat status;
    if (stat(path.c_str(), &status) != 0 && errno == ENOENT)
        return path + ": missing; the viewer reads " + what
            + " from here: create it, or name the directory that holds Shaders/ and test.png";
    if (stat(path.c_str(), &status) == 0 && S_ISDIR(status.st_mode))
        return path + ": a directory, where the viewer reads " + what + ": make it a file";
    if (stat(path.c_str(), &status) == 0 && !S_ISREG(status.st_mode))
        return path + ": not a regular file but a pipe or a device, on which the viewer would wait"
            + " or read without end; it reads " + what + " from here: make it a file";
    std::FILE* file = std::fopen(path.c_str(), "rb");
    if (!file)
        return path + ": cannot be read (" + std::strerror(errno) + "); the viewer reads " + what
            + " from here: make it readable";
    std::fclose(file);
    return "";
}

// The driver's log, a line each: FILE:LINE where the log gives a line (Mesa's
// "0:7(12): ", or "0(7) : ", or "ERROR: 0:7: "), else FILE.
// Whether a stage's source names a uniform, as a word. Mesa 25 calls a
// uniform of the default block referenced by both stages when one alone
// declares it, so GL's answer alone would name a file that never mentions it.
static bool mentions(const std::string& file, const std::string& name)
{
    std::ifstream in(file);
    std::stringstream text;
    text << in.rdbuf();
    return std::regex_search(text.str(), std::regex("\\b" + name + "\\b"));
}

static void logLines(const std::string& log, const std::string& file, const std::string& say,
    const std::string& what, std::vector<std::string>& lines)
{
    static const std::regex located(R"(^\s*(?:ERROR:\s*)?\d+[:(](\d+)\)?(?:\(\d+\))?\s*:\s*(.*)$)");
    std::istringstream in(log);
    std::string line;
    std::size_t before = lines.size();
    while (std::getline(in, line)) {
        std::smatch match;
        if (line.find_first_not_of(" \t\r") == std::string::npos)
            continue;
        if (std::regex_match(line, match, located))
            lines.push_back(
                file + ":" + match[1].str() + ": " + say + match[2].str() + "; " + what);
        else
            lines.push_back(file + ": " + say + line + "; " + what);
    }
    if (lines.size() == before)
        lines.push_back(file + ": " + say + "the driver gives no reason; " + what);
}

int main(int argc, char** argv)
{
    // Arguments: at most the scene's directory.
    if (argc > 2)
        return misuse("one directory at most, not " + std::to_string(argc - 1));
    if (argc == 2 && argv[1][0] == '-')
        return misuse(std::string("unknown option ") + argv[1]);
    // Offscreen context: EGL with no display at all, 4.6 core.
    const char* clientExtensions = eglQueryString(EGL_NO_DISPLAY, EGL_EXTENSIONS);
    if (!clientExtensions || !std::strstr(clientExtensions, "EGL_MESA_platform_surfaceless"))
        return noContext("EGL has no surfaceless platform (install libegl-mesa0)");
    EGLDisplay display
        = eglGetPlatformDisplay(EGL_PLATFORM_SURFACELESS_MESA, EGL_DEFAULT_DISPLAY, nullptr);
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

    // The scene: its directory becomes the working directory, as the
    // launcher makes it the viewer's.
    if (argc == 2 && chdir(argv[1]) != 0)
        return misuse(std::string("cannot enter ") + argv[1] + ": " + std::strerror(errno));
    std::vector<char> cwd(4096);
    if (!getcwd(cwd.data(), cwd.size()))
        return misuse(std::string("cannot tell the scene's directory: ") + std::strerror(errno));
    std::string here = std::string(cwd.data()) + (cwd[1] ? "/" : "");
    const std::string vertexFile = here + "Shaders/OG_V.glsl";
    const std::string fragmentFile = here + "Shaders/OG_F.glsl";
    const std::string imageFile = here + "test.png";

    std::vector<std::string> lines;

    // Files: each the viewer reads, there and readable.
    std::string missing[] = { unreadable(vertexFile, "the vertex shader"),
        unreadable(fragmentFile, "the fragment shader") };
    for (const std::string& line : missing)
        if (!line.empty())
            lines.push_back(line);
    bool sourcesRead = lines.empty();

    // Shaders: built as the viewer builds them, its messages taken apart.
    // After a missing file both sources are empty, so the stages' failures
    // would say nothing more; and a pipe would never end.
    std::ostringstream messages;
    std::streambuf* out = std::cout.rdbuf(messages.rdbuf());
    std::optional<Shader> shader;
    if (sourcesRead)
        shader.emplace("Shaders/OG_V.glsl", "Shaders/OG_F.glsl");
    std::cout.rdbuf(out);
    std::string said = messages.str();
    for (std::size_t at = 0, end;
         sourcesRead && (end = said.find(separator, at)) != std::string::npos;
         at = end + std::strlen(separator)) {
        std::string block = said.substr(at, end - at);
        std::size_t newline = block.find('\n');
        std::string head = block.substr(0, newline);
        std::string log = newline == std::string::npos ? "" : block.substr(newline + 1);
        if (head.find("of type: VERTEX") != std::string::npos)
            logLines(
                log, vertexFile, "does not compile: ", "correct the vertex shader there", lines);
        else if (head.find("of type: FRAGMENT") != std::string::npos)
            logLines(log, fragmentFile, "does not compile: ", "correct the fragment shader there",
                lines);
        else if (lines.empty())
            logLines(log, fragmentFile, "does not link with " + vertexFile + ": ",
                "make the two stages' declarations agree", lines);
    }

    // Contract: every active uniform one the viewer sets, of the type it
    // sends; every active vertex input at a location it feeds, of its type.
    GLint program = 0;
    if (shader)
        shader->use();
    glGetIntegerv(GL_CURRENT_PROGRAM, &program);
    GLint count = 0;
    if (program)
        glGetProgramInterfaceiv(program, GL_UNIFORM, GL_ACTIVE_RESOURCES, &count);
    for (GLint i = 0; i < count; i++) {
        char name[256] = {};
        glGetProgramResourceName(program, GL_UNIFORM, i, sizeof name, nullptr, name);
        const GLenum asked[] = { GL_TYPE, GL_BLOCK_INDEX, GL_REFERENCED_BY_VERTEX_SHADER,
            GL_REFERENCED_BY_FRAGMENT_SHADER };
        GLint got[4] = {};
        glGetProgramResourceiv(program, GL_UNIFORM, i, 4, asked, 4, nullptr, got);
        std::string base = name;
        if (base.size() > 3 && base.compare(base.size() - 3, 3, "[0]") == 0)
            base.resize(base.size() - 3);
        if (base.compare(0, 3, "gl_") == 0)
            continue;
        const Uniform* known = nullptr;
        for (const Uniform& uniform : uniforms)
            if (base == uniform.name && got[1] == -1)
                known = &uniform;
        std::string problem;
        if (!known)
            problem = ": uniform " + base + " is never set by the viewer, which sets " + uniformList
                + ": use one of these names, or a constant";
        else if (static_cast<GLenum>(got[0]) != known->type)
            problem = ": uniform " + base + " is declared " + typeName(got[0])
                + ", but the viewer sends a " + typeName(known->type) + ": declare it as "
                + typeName(known->type) + " " + base;
        bool inVertex = got[2] && mentions(vertexFile, base);
        bool inFragment = got[3] && mentions(fragmentFile, base);
        if (!inVertex && !inFragment) {
            inVertex = got[2];
            inFragment = got[3];
        }
        if (!problem.empty() && inVertex)
            lines.push_back(vertexFile + problem);
        if (!problem.empty() && inFragment)
            lines.push_back(fragmentFile + problem);
    }
    count = 0;
    if (program)
        glGetProgramInterfaceiv(program, GL_PROGRAM_INPUT, GL_ACTIVE_RESOURCES, &count);
    for (GLint i = 0; i < count; i++) {
        char name[256] = {};
        glGetProgramResourceName(program, GL_PROGRAM_INPUT, i, sizeof name, nullptr, name);
        const GLenum asked[] = { GL_TYPE, GL_LOCATION };
        GLint got[2] = {};
        glGetProgramResourceiv(program, GL_PROGRAM_INPUT, i, 2, asked, 2, nullptr, got);
        if (got[1] < 0)
            continue;
        std::string at = ": input " + std::string(name) + " at location " + std::to_string(got[1]);
        if (got[1] > 2)
            lines.push_back(vertexFile + at + " is never fed; the viewer feeds locations "
                + inputList + ": give it one of these with layout(location = N)");
        else if (static_cast<GLenum>(got[0]) != inputs[got[1]].type)
            lines.push_back(vertexFile + at + " is declared " + typeName(got[0])
                + ", but the viewer feeds a " + typeName(inputs[got[1]].type) + " "
                + inputs[got[1]].meaning + " there: declare it as "
                + typeName(inputs[got[1]].type));
    }

    // Image: the viewer's own step and its own line; a missing file is
    // named by its whole path, as the shaders are, and a pipe or a device,
    // on which the viewer would wait, is not opened.
    struct stat status;
    bool special
        = stat("test.png", &status) == 0 && !S_ISREG(status.st_mode) && !S_ISDIR(status.st_mode);
    Image image = special ? Image() : loadImage("test.png", [] {
        GLint largest = 0;
        glGetIntegerv(GL_MAX_TEXTURE_SIZE, &largest);
        return largest;
    });
    if (special)
        lines.push_back(imageFile + ": not a regular file but a pipe or a device, on which the"
            + " viewer would wait or read without end: make it an image file");
    else if (!image.pixels && stat("test.png", &status) != 0 && errno == ENOENT)
        lines.push_back(imageFile + ": missing; the viewer prints \"" + failureLine(image)
            + "\" and draws the cubes without a surface: put the image there");
    else if (!image.pixels)
        lines.push_back(failureLine(image));
    stbi_image_free(image.pixels);

    // Report: a line a problem, nothing for a sound scene.
    for (const std::string& line : lines)
        std::cout << line << "\n";
    std::cout.flush();
    eglMakeCurrent(display, EGL_NO_SURFACE, EGL_NO_SURFACE, EGL_NO_CONTEXT);
    eglTerminate(display);
    return lines.empty() ? 0 : 1;
}
