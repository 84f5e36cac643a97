#version 460 core
// Phong lighting, worked out for every fragment: a dim ambient part, a
// diffuse part that follows the angle between the surface and the light,
// and a highlight where the light's reflection points at the eye.
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
    // The light's own cube is drawn by this program too, with no normal:
    // show it in the light's colour, as a lamp.
    if (Normal == vec3(0.0)) {
        FragColor = vec4(lightColor, 1.0);
        return;
    }

    // The viewer sends viewPos as the view's translation, (0, 0, -3): the
    // eye stands at the opposite point, (0, 0, 3).
    vec3 eye = -viewPos;

    vec3 n = normalize(Normal);
    vec3 toLight = normalize(lightPos - FragPos);
    vec3 toEye = normalize(eye - FragPos);

    float diffuse = max(dot(n, toLight), 0.0);

    // reflect() mirrors the incoming light about the normal; the nearer the
    // mirrored ray comes to the eye, the brighter the highlight, and the
    // power 32 keeps it small. A face turned away from the light gets none.
    vec3 mirrored = reflect(-toLight, n);
    float specular = pow(max(dot(toEye, mirrored), 0.0), 32.0);
    if (dot(n, toLight) <= 0.0)
        specular = 0.0;

    vec3 surface = texture(texture0, TexCoord).rgb;
    vec3 colour = (objectColor + diffuse) * surface + 0.5 * specular;
    FragColor = vec4(colour * lightColor, 1.0);
}
