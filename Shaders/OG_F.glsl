#version 460 core
in vec3 toLight;
in vec3 toEye;
flat in vec3 Normal;
in vec2 TexCoord;

out vec4 FragColor;

uniform sampler2D texture0;
uniform vec3 lightColor;
uniform vec3 objectColor;

void main()
{
    // The light marker is drawn with this program but has no normal: show it
    // as a solid cube in the light's colour instead of lighting it.
    if (dot(Normal, Normal) < 1e-8) {
        FragColor = vec4(lightColor, 1.0);
        return;
    }
    // Phong lighting, written for a software rasteriser where every operation
    // is paid per fragment: Normal is already of unit length and the light
    // and eye directions come interpolated (see the vertex shader), they are
    // used through their inverse lengths instead of being normalised, and the
    // highlight's dot(toEye, reflect(-toLight, n)) is expanded into
    // 2 dot(n, toLight) dot(n, toEye) - dot(toEye, toLight).
    float invLight = inversesqrt(dot(toLight, toLight));
    float invEye = inversesqrt(dot(toEye, toEye));
    float facing = dot(Normal, toLight) * invLight;
    float shine = (2.0 * facing * dot(Normal, toEye) - dot(toEye, toLight) * invLight) * invEye;
    shine = max(shine, 0.0);
    // The 32nd power by five squarings, cheaper than pow().
    shine *= shine;
    shine *= shine;
    shine *= shine;
    shine *= shine;
    shine *= shine;
    // No highlight on a face turned away from the light.
    shine = facing > 0.0 ? shine : 0.0;

    vec3 surface = texture(texture0, TexCoord).rgb;
    // Ambient from objectColor, diffuse and specular, all in the light's colour.
    vec3 light = (objectColor + max(facing, 0.0)) * surface + 0.5 * shine;
    FragColor = vec4(light * lightColor, 1.0);
}
