#version 460 core
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
    // The light marker is drawn with this program but has no normal: show it
    // as a solid cube in the light's colour instead of normalising zero.
    if (dot(Normal, Normal) < 1e-8) {
        FragColor = vec4(lightColor, 1.0);
        return;
    }
    vec3 n = normalize(Normal);
    vec3 toLight = normalize(lightPos - FragPos);
    // viewPos holds the view's translation, the negated eye position.
    vec3 toEye = normalize(-viewPos - FragPos);

    vec3 surface = texture(texture0, TexCoord).rgb;
    vec3 ambient = objectColor * lightColor;
    float facing = dot(n, toLight);
    vec3 diffuse = max(facing, 0.0) * lightColor;
    // No highlight on a face turned away from the light.
    float shine = facing > 0.0 ? pow(max(dot(toEye, reflect(-toLight, n)), 0.0), 32.0) : 0.0;
    vec3 specular = 0.5 * shine * lightColor;

    FragColor = vec4((ambient + diffuse) * surface + specular, 1.0);
}
