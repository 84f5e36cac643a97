#version 460 core
// Blinn-Phong lighting: examples/phong with the highlight measured another
// way. Instead of mirroring the light about the normal, it takes the
// direction halfway between the light and the eye and asks how close the
// normal comes to it. The highlight sits in the same place but spreads
// wider for the same power (about four times the power gives Phong's size).
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

    float diffuse = max(dot(n, toLight), 0.0);

    vec3 halfway = normalize(toLight + toEye);
    float specular = pow(max(dot(n, halfway), 0.0), 32.0);
    // A face turned away from the light gets no highlight.
    if (dot(n, toLight) <= 0.0)
        specular = 0.0;

    vec3 surface = texture(texture0, TexCoord).rgb;
    vec3 colour = (objectColor + diffuse) * surface + 0.5 * specular;
    FragColor = vec4(colour * lightColor, 1.0);
}
