#version 460 core
// The image alone, the vertex stage: places each corner on the screen and
// passes on its texture coordinate, and its normal only so that the
// fragment stage can tell the light's cube, which has none.
// Inputs: the position (location 0), texture coordinate (1) and normal (2).
// Uniforms: model, view and projection.
layout (location = 0) in vec3 aPos;
layout (location = 1) in vec2 aTexCoord;
layout (location = 2) in vec3 aNormal;

out vec2 TexCoord;
out vec3 Normal;

uniform mat4 model;
uniform mat4 view;
uniform mat4 projection;

void main()
{
    TexCoord = aTexCoord;
    Normal = aNormal;
    gl_Position = projection * view * model * vec4(aPos, 1.0);
}
