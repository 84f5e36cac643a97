#version 460 core
// Cel (toon) shading: the diffuse light of examples/phong cut into four flat
// bands and the highlight into a hard-edged spot, the way a cartoon is
// painted: a few tones instead of a smooth gradient.
// Inputs from the vertex stage: the world position, normal and texture
// coordinate. Uniforms: lightPos, lightColor, objectColor (the ambient
// part), viewPos and the image, texture0.
in vec3 FragPos;
in vec3 Normal;
in vec2 TexCoord;

out vec4 FragColor;

uniform sampler2D texture0;
uniform vec3 lightPos;
uniform vec3 lightColor;
uniform vec3 objectColor;
uniform vec3 viewPos;

// How many tones the diffuse light is cut into.
const float BANDS = 4.0;

void main()
{
    // The light's own cube comes with no normal: show it as a lamp.
    if (Normal == vec3(0.0)) {
        FragColor = vec4(lightColor, 1.0);
        return;
    }

    // viewPos is the view's translation; the eye stands at its opposite.
    vec3 eye = -viewPos;

    vec3 n = normalize(Normal);
    vec3 toLight = normalize(lightPos - FragPos);
    vec3 toEye = normalize(eye - FragPos);

    // Rounded down to the nearest band: 0, 0.25, 0.5 or 0.75 (1 only where
    // the light meets the surface head on).
    float diffuse = max(dot(n, toLight), 0.0);
    float band = floor(diffuse * BANDS) / BANDS;

    // The highlight either shows, at full strength, or does not.
    float specular = pow(max(dot(toEye, reflect(-toLight, n)), 0.0), 32.0);
    float spot = diffuse > 0.0 && specular > 0.5 ? 1.0 : 0.0;

    vec3 surface = texture(texture0, TexCoord).rgb;
    vec3 colour = (objectColor + band) * surface + 0.5 * spot;
    FragColor = vec4(colour * lightColor, 1.0);
}
