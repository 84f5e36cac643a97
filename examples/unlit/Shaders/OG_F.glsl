#version 460 core
// The image alone, with no lighting at all: every face shows the image's
// own colours, wherever the light is. The smallest useful fragment shader,
// and the place to start when a lit one shows nothing.
// Inputs from the vertex stage: the texture coordinate and the normal.
// Uniforms: the image, texture0, and lightColor for the light's cube.
in vec2 TexCoord;
in vec3 Normal;

out vec4 FragColor;

uniform sampler2D texture0;
uniform vec3 lightColor;

void main()
{
    // The light's own cube comes with no normal: show it as a lamp.
    if (Normal == vec3(0.0)) {
        FragColor = vec4(lightColor, 1.0);
        return;
    }
    FragColor = vec4(texture(texture0, TexCoord).rgb, 1.0);
}
