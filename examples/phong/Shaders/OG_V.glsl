#version 460 core
// Phong lighting, the vertex stage: it only moves each corner into the world
// and onto the screen, and hands the fragment stage what the lighting needs.
// Inputs: the position (location 0), texture coordinate (1) and normal (2).
// Uniforms: model, view and projection.
layout (location = 0) in vec3 aPos;
layout (location = 1) in vec2 aTexCoord;
layout (location = 2) in vec3 aNormal;

out vec3 FragPos;
out vec3 Normal;
out vec2 TexCoord;

uniform mat4 model;
uniform mat4 view;
uniform mat4 projection;

void main()
{
    // The lighting is worked out in world space, where the light is.
    FragPos = vec3(model * vec4(aPos, 1.0));
    // The model matrices only turn and move the cubes, so their upper 3x3
    // turns the normals too. A model that stretched would need
    // transpose(inverse(mat3(model))) here instead.
    Normal = mat3(model) * aNormal;
    TexCoord = aTexCoord;
    gl_Position = projection * view * vec4(FragPos, 1.0);
}
