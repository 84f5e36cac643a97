/* The watch's rebuilds, for the launcher's preloaded library: the viewer's
 * own shader and image code, run again inside the running viewer between two
 * frames, with its context current, so that a save shows what a fresh start
 * on the same files shows, and prints what it prints.
 *
 * The viewer keeps its program and texture names to itself and calls GL
 * through its own loader, so the library finds both through GL's state: the
 * texture is the one bound on unit 0, where the viewer binds it every frame,
 * and is filled again in place; the program is the one program object the
 * context holds at the first frame (the current one, unless it failed to
 * link, when none is current). The program cannot
 * be replaced, as the viewer makes its own current every frame: a Shader
 * builds a new one from the files, and the viewer's program is linked again
 * from that one's shader objects. The Shader's program name, which it keeps
 * private, is the one its glCreateProgram returns, seen through this
 * library's own loader.
 */
#define STB_IMAGE_IMPLEMENTATION
#include "image.h"
#include "shader.h"

namespace {

// Program names tried for the viewer's at the first frame, when it holds the
// context's only program.
const GLuint mostNames = 4096;

GLuint program;
GLuint lastMade;
PFNGLCREATEPROGRAMPROC createProgram;

GLuint recordingCreateProgram()
{
    lastMade = createProgram();
    return lastMade;
}

GLint largestTexture()
{
    GLint largest = 0;
    glGetIntegerv(GL_MAX_TEXTURE_SIZE, &largest);
    return largest;
}

} // namespace

// At the first frame: the loader, and the viewer's program.
extern "C" int rebuild_begin(void)
{
    if (!gladLoaderLoadGL())
        return 0;
    createProgram = glad_glCreateProgram;
    glad_glCreateProgram = recordingCreateProgram;
    program = 1;
    while (program < mostNames && !glIsProgram(program))
        program++;
    return 1;
}

// Both stages from the files, with the messages of a fresh start, linked
// into the viewer's program.
extern "C" void rebuild_shaders(void)
{
    Shader fresh("Shaders/OG_V.glsl", "Shaders/OG_F.glsl");
    GLuint made = lastMade;
    GLuint shaders[2];
    GLsizei count = 0;
    glGetAttachedShaders(program, 2, &count, shaders);
    for (GLsizei i = 0; i < count; i++)
        glDetachShader(program, shaders[i]);
    glGetAttachedShaders(made, 2, &count, shaders);
    for (GLsizei i = 0; i < count; i++)
        glAttachShader(program, shaders[i]);
    glLinkProgram(program);
    // The shader objects live on, attached to the viewer's program alone.
    glDeleteProgram(made);
    // GL keeps the last good executable in use after a failed link, where a
    // fresh start would have none: the viewer's next use() makes its program
    // current again if, and only if, it linked.
    glUseProgram(0);
}

// The image from the file into the viewer's texture, as a fresh start
// uploads it: the old levels and a grey image's swizzle gone first.
extern "C" void rebuild_image(void)
{
    static const GLint identity[] = { GL_RED, GL_GREEN, GL_BLUE, GL_ALPHA };
    GLint largest = largestTexture();
    for (GLint level = 0; largest >> level; level++)
        glTexImage2D(GL_TEXTURE_2D, level, GL_RGBA, 0, 0, 0, GL_RGBA, GL_UNSIGNED_BYTE, nullptr);
    glTexParameteriv(GL_TEXTURE_2D, GL_TEXTURE_SWIZZLE_RGBA, identity);
    Image image = loadImage("test.png", largestTexture);
    if (image.pixels) {
        uploadImage(image);
    } else {
        std::cout << failureLine(image) << std::endl;
    }
    stbi_image_free(image.pixels);
}
