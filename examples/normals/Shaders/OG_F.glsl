#version 460 core
// Surface normals shown as colours: each face is painted with the direction
// it faces in the world, x as red, y as green, z as blue, each from -1 (none
// of that colour) to 1 (all of it). A face towards the camera (+z) is
// lavender blue, one facing up (+y) light green. The usual first check when
// lighting looks wrong: are the normals what they should be?
// Input from the vertex stage: the world normal.
// Uniform: lightColor, for the light's cube.
in vec3 Normal;

out vec4 FragColor;

uniform vec3 lightColor;

void main()
{
    // The light's own cube comes with no normal: show it as a lamp.
    if (Normal == vec3(0.0)) {
        FragColor = vec4(lightColor, 1.0);
        return;
    }
    // -1..1 in each axis mapped onto 0..1 in each colour.
    FragColor = vec4(normalize(Normal) * 0.5 + 0.5, 1.0);
}
