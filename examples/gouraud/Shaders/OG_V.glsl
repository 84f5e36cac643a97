#version 460 core
// Gouraud shading: the same Phong lighting as examples/phong, but worked out
// once for each corner, here in the vertex stage; the rasteriser blends the
// corners' results across each triangle. Cheap, and a cube's face has only
// four corners, so a highlight that falls between them is smeared or lost.
// Inputs: the position (location 0), texture coordinate (1) and normal (2).
// Uniforms: model, view, projection, lightPos, objectColor and viewPos.
layout (location = 0) in vec3 aPos;
layout (location = 1) in vec2 aTexCoord;
layout (location = 2) in vec3 aNormal;

// How much the surface is lit (ambient and diffuse) and the highlight, at
// this corner; the fragment stage gets them blended between corners.
out vec3 Lighting;
out float Specular;
out vec2 TexCoord;
// 1 for the light's own cube, which has no normal; flat, so not blended.
flat out int IsLight;

uniform mat4 model;
uniform mat4 view;
uniform mat4 projection;
uniform vec3 lightPos;
uniform vec3 objectColor;
uniform vec3 viewPos;

void main()
{
    vec3 position = vec3(model * vec4(aPos, 1.0));
    gl_Position = projection * view * vec4(position, 1.0);
    TexCoord = aTexCoord;

    IsLight = aNormal == vec3(0.0) ? 1 : 0;
    if (IsLight == 1) {
        Lighting = vec3(0.0);
        Specular = 0.0;
        return;
    }

    // The cubes are only turned and moved, so mat3(model) turns normals.
    vec3 n = normalize(mat3(model) * aNormal);
    vec3 toLight = normalize(lightPos - position);
    // viewPos is the view's translation; the eye stands at its opposite.
    vec3 toEye = normalize(-viewPos - position);

    float facing = dot(n, toLight);
    Lighting = objectColor + max(facing, 0.0);
    Specular = facing > 0.0 ? pow(max(dot(toEye, reflect(-toLight, n)), 0.0), 32.0) : 0.0;
}
