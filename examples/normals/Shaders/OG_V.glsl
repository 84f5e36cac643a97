#version 460 core
// Normals as colours, the vertex stage: turns each normal into the world
// with its cube, and places the corner on the screen.
// Inputs: the position (location 0) and normal (2).
// Uniforms: model, view and projection.
layout (location = 0) in vec3 aPos;
layout (location = 2) in vec3 aNormal;

out vec3 Normal;

uniform mat4 model;
uniform mat4 view;
uniform mat4 projection;

void main()
{
    // The cubes are only turned and moved, so the upper 3x3 of the model
    // matrix turns their normals as it turns the cubes.
    Normal = mat3(model) * aNormal;
    gl_Position = projection * view * model * vec4(aPos, 1.0);
}
