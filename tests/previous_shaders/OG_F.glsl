#version 460 core
in vec3 FragPos;
flat in vec3 Normal;
in vec2 TexCoord;

out vec4 FragColor;

uniform sampler2D texture0;
uniform vec3 lightPos;
uniform vec3 lightColor;
uniform vec3 objectColor;
uniform vec3 viewPos;

void main()
{
    if (dot(Normal, Normal) < 1e-8) {
        FragColor = vec4(lightColor, 1.0);
        return;
    }
    vec3 toLight = lightPos - FragPos;
    vec3 toEye = -viewPos - FragPos;
    float invLight = inversesqrt(dot(toLight, toLight));
    float invEye = inversesqrt(dot(toEye, toEye));
    float facing = dot(Normal, toLight) * invLight;
    float shine = (2.0 * facing * dot(Normal, toEye) - dot(toEye, toLight) * invLight) * invEye;
    shine = max(shine, 0.0);
    shine *= shine;
    shine *= shine;
    shine *= shine;
    shine *= shine;
    shine *= shine;
    shine = facing > 0.0 ? shine : 0.0;

    vec3 surface = texture(texture0, TexCoord).rgb;
    vec3 light = (objectColor + max(facing, 0.0)) * surface + 0.5 * shine;
    FragColor = vec4(light * lightColor, 1.0);
}
