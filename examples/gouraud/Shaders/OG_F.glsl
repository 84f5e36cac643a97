#version 460 core
// Gouraud shading, the fragment stage: no lighting of its own, it lays the
// image under the lighting blended from the triangle's corners.
// Inputs from the vertex stage: the blended lighting and highlight, the
// texture coordinate and whether this is the light's cube.
// Uniforms: the image, texture0, and lightColor.
in vec3 Lighting;
in float Specular;
in vec2 TexCoord;
flat in int IsLight;

out vec4 FragColor;

uniform sampler2D texture0;
uniform vec3 lightColor;

void main()
{
    // The light's own cube: shown as a lamp.
    if (IsLight == 1) {
        FragColor = vec4(lightColor, 1.0);
        return;
    }
    vec3 surface = texture(texture0, TexCoord).rgb;
    FragColor = vec4((Lighting * surface + 0.5 * Specular) * lightColor, 1.0);
}
